#pragma once
// The WebSocket endpoint of the in-app plug-ins: one session per connection (reader, writer,
// keep-alive), and the registry of plug-ins by runtime. Whether a request may be upgraded is
// HTTP work, decided in server/ws_upgrade.hpp.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <boost/asio/awaitable.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include "common/crypto.hpp"
#include "hub/bridge_state.hpp"

namespace cutrelay {

inline constexpr std::size_t kMaxPluginMessage = 256u << 20;

// Completes the upgrade and runs the connection until it ends: reader, writer and
// keep-alive race, and whichever ends first (an error, a close, a throw) ends the others;
// then the connection is unregistered, its calls fail and its socket is released, on
// every path. With `plugin_nonce` the connection is challenged first (hub/handshake.hpp)
// and ends unless the plug-in's proof comes within the state's handshake time-out.
boost::asio::awaitable<void> run_plugin_connection(
    StatePtr state, boost::beast::tcp_stream stream,
    boost::beast::http::request<boost::beast::http::string_body> request,
    std::optional<std::string> plugin_nonce = std::nullopt);

// How a challenged connection's message before its proof is taken: a hello with the right
// proof passes, a pong is let by, anything else ends the connection.
enum class HandshakeStep { Passed, Ignored, Refused };
HandshakeStep check_handshake_message(const json& message, std::string_view expected_proof);

// Registry queries for other parts of the bridge.
// A runtime named by text other than "uxp" or "cep" is never connected.
bool is_connected(BridgeState& state, PluginRuntime runtime);
bool is_connected(BridgeState& state, std::string_view runtime);

// A copy of the stored hello and the whole seconds since it was filed.
std::optional<std::pair<json, std::uint64_t>> plugin_record(BridgeState& state,
                                                            PluginRuntime runtime);
std::optional<std::pair<json, std::uint64_t>> plugin_record(BridgeState& state,
                                                            std::string_view runtime);

// Handles one message from a plug-in connection (exposed for tests of the bookkeeping).
void handle_plugin_message(BridgeState& state, std::uint64_t conn_id,
                           const std::shared_ptr<Outbox>& outbox, std::string_view text);
void handle_plugin_json(BridgeState& state, std::uint64_t conn_id,
                        const std::shared_ptr<Outbox>& outbox, json message);

// Unregisters a connection that ended, logs it and fails its calls; returns the runtimes
// removed.
std::vector<PluginRuntime> end_plugin_connection(BridgeState& state, std::uint64_t conn_id);

// Runs a connection task so that an exception ends only that task, logged, and the task
// still counts as ended (a throwing branch of `||` would otherwise leave the race waiting
// on the others, and the connection's clean-up would never run).
boost::asio::awaitable<void> contained(boost::asio::awaitable<void> task, const char* what);

}  // namespace cutrelay
