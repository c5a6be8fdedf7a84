#pragma once
// The WebSocket endpoint of the in-app plug-ins: the upgrade and token check, one session
// per connection (reader, writer, keep-alive), and the registry of plug-ins by runtime.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <boost/asio/awaitable.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include "hub/bridge_state.hpp"

namespace cutrelay {

inline constexpr std::size_t kMaxPluginMessage = 256u << 20;
inline constexpr std::chrono::seconds kPingInterval{15};

// The form-decoded query string ('+' as space, the last of repeated keys counts), or the
// reason it cannot be decoded.
struct QueryDecode {
  std::map<std::string, std::string> params;
  std::optional<std::string> error;
};
QueryDecode decode_query(std::string_view query);

// The refusal of an upgrade request, if any, in the order the endpoint checks things.
struct UpgradeRefusal {
  unsigned status;
  std::string body;
};
std::optional<UpgradeRefusal> check_upgrade(
    const boost::beast::http::request<boost::beast::http::string_body>& request,
    std::string_view query, std::string_view token);

// Byte equality in time independent of where the texts differ.
bool constant_time_equal(std::string_view a, std::string_view b);

// Completes the upgrade and runs the connection until it ends.
boost::asio::awaitable<void> run_plugin_connection(
    StatePtr state, boost::beast::tcp_stream stream,
    boost::beast::http::request<boost::beast::http::string_body> request);

// Registry queries for other parts of the bridge. Each takes the registry lock briefly.
bool is_connected(BridgeState& state, std::string_view runtime);

// A copy of the stored hello and the whole seconds since it was filed.
std::optional<std::pair<json, std::uint64_t>> plugin_record(BridgeState& state,
                                                            std::string_view runtime);

// Handles one message from a plug-in connection (exposed for tests of the bookkeeping).
void handle_plugin_message(BridgeState& state, std::uint64_t conn_id,
                           const std::shared_ptr<Outbox>& outbox, std::string_view text);

// Unregisters a connection that ended and fails its calls; returns the runtimes removed.
std::vector<std::string> end_plugin_connection(BridgeState& state, std::uint64_t conn_id);

}  // namespace cutrelay
