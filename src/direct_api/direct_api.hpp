#pragma once
// The client of the companion application's direct API: a small local HTTP service that can
// list the desktop's windows and capture one. One call is one POST over a fresh TCP
// connection, read to the server's close; every failure comes back as one line of text.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include <boost/asio/awaitable.hpp>

#include "common/json_util.hpp"

namespace cutrelay {

inline constexpr std::string_view kDirectApiUrlVar = "QUOR_DIRECT_API_URL";
inline constexpr std::string_view kDirectApiTokenVar = "QUOR_BRIDGE_TOKEN";
inline constexpr std::string_view kDirectApiTokenHeader = "X-Quor-Bridge-Token";

// The most an answer may hold, head and body: far more than a capture of a 5K window, and
// a bound on what a server that never stops sending can make the bridge hold.
inline constexpr std::size_t kMaxDirectApiAnswer = 64u << 20;

// A value or the text of what went wrong.
struct DirectApiResult {
  std::optional<json> value;
  std::string error;
  bool ok() const { return value.has_value(); }
  static DirectApiResult fail(std::string text) { return {std::nullopt, std::move(text)}; }
};

struct Endpoint {
  std::string host_port;  // empty on failure
  std::string error;
};

// Where the direct API listens: the URL variable's value without trailing "/" when it is
// set, else the port file's text (a bare port on 127.0.0.1, or host:port). Only "http://"
// endpoints are accepted. Pure: the caller reads the environment and the file.
Endpoint direct_api_endpoint(const std::optional<std::string>& url_var,
                             const std::optional<std::string>& port_file);

// The same, from this process's environment and ~/.quor/direct-api-port.
Endpoint find_direct_api_endpoint();

// The request's bytes, exactly as sent: the token header comes last, only when not empty.
std::string direct_api_request(std::string_view host_port, std::string_view command,
                               const json& args, std::string_view token);

// Undoes chunked transfer coding, keeping what was decoded when the coding goes wrong.
std::string dechunk(std::string_view body);

// Turns the whole received answer (head and body) into the call's result.
DirectApiResult read_direct_api_answer(std::string_view received);

// The overall limit of one exchange: 60 s, or CUTRELAY_TEST_DIRECT_API_TIMEOUT_MS when set
// (only ever shorter), so tests of a silent server need not wait a minute.
std::chrono::milliseconds direct_api_time_limit();

// Sends one command and returns the parsed answer (with a JSON `output` string parsed). An
// answer over kMaxDirectApiAnswer fails, and its connection is dropped at once.
boost::asio::awaitable<DirectApiResult> direct_api_call(std::string command, json args);

}  // namespace cutrelay
