#pragma once
// The Model Context Protocol endpoint "/mcp" (Streamable HTTP): every catalogued verb as a
// tool, each call run through the same dispatch as the command endpoint.
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include <boost/asio/awaitable.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/verb.hpp>

#include "hub/bridge_state.hpp"
#include "server/command_endpoint.hpp"

namespace cutrelay {

// Protocol revisions served, newest first; the first is answered to a client that asks for
// one we do not know.
inline constexpr std::string_view kMcpRevisions[] = {"2025-11-25", "2025-06-18", "2025-03-26",
                                                     "2024-11-05"};

bool is_supported_mcp_revision(std::string_view revision);

// Bounds of a batch (2025-03-26): the messages it may hold, and the size its answer may
// reach before the requests after that point are refused instead of run.
struct McpBatchLimits {
  std::size_t messages = 64;
  std::size_t answer_bytes = 16u << 20;
};

// JSON-RPC error codes.
inline constexpr int kParseError = -32700;
inline constexpr int kInvalidRequest = -32600;
inline constexpr int kMethodNotFound = -32601;
inline constexpr int kInvalidParams = -32602;
inline constexpr int kInternalError = -32603;
inline constexpr int kSessionNotFound = -32001;

json jsonrpc_error(const json& id, int code, std::string message);

// The sessions opened by `initialize`: an id handed to the client and the revision agreed.
// Only the most recently used ones are kept, so clients that never end their sessions
// cannot make the table grow without bound. Used on the bridge's I/O thread only.
class McpSessions {
 public:
  explicit McpSessions(std::size_t capacity = 4096) : capacity_(capacity) {}
  std::string open(std::string revision);
  // The revision of a live session (and marks it used), or nothing.
  std::optional<std::string> revision(const std::string& id);
  bool close(const std::string& id);

 private:
  struct Session {
    std::string revision;
    std::uint64_t used = 0;
  };
  std::unordered_map<std::string, Session> sessions_;
  std::uint64_t clock_ = 0;
  std::size_t capacity_;
};

// The `tools/call` result for a command answer. Inline images (the `image` of an answer,
// each `frames[i].image`) become image content blocks and their Base64 is replaced by a
// note in the text and structured copies. `structured` adds `structuredContent`, which
// revisions before 2025-06-18 lack.
json tool_call_result(json answer, bool structured);

// A response written as server-sent events while its request runs: how a tools/call that
// carries a progress token gets its progress notifications, then its result.
class McpEventStream {
 public:
  virtual ~McpEventStream() = default;
  // Sends the head of a 200 text/event-stream response; false when the client is gone.
  virtual boost::asio::awaitable<bool> open() = 0;
  // Sends one event holding one JSON-RPC message; false when the client is gone.
  virtual boost::asio::awaitable<bool> send(std::string message) = 0;
  // Ends the response.
  virtual boost::asio::awaitable<bool> close() = 0;
};

// The event stream of an HTTP response on `stream`: chunked on HTTP/1.1; on HTTP/1.0 the
// connection ends with the response.
class HttpEventStream final : public McpEventStream {
 public:
  HttpEventStream(boost::beast::tcp_stream& stream, unsigned version, bool keep_alive)
      : stream_(stream), version_(version), keep_alive_(keep_alive && version >= 11) {}
  boost::asio::awaitable<bool> open() override;
  boost::asio::awaitable<bool> send(std::string message) override;
  boost::asio::awaitable<bool> close() override;
  // Whether the connection may carry another request after this response.
  bool reusable() const { return keep_alive_ && healthy_ && closed_; }

 private:
  boost::asio::awaitable<bool> write(std::string bytes, bool last);
  boost::beast::tcp_stream& stream_;
  unsigned version_;
  bool keep_alive_;
  bool healthy_ = true;
  bool closed_ = false;
};

struct McpRequest {
  boost::beast::http::verb method = boost::beast::http::verb::post;
  std::optional<std::string_view> content_type;
  std::optional<std::string_view> accept;
  std::optional<std::string_view> session_id;
  std::optional<std::string_view> protocol_version;
  std::string body;
  // Where a streamed answer goes; without one every answer is a single JSON body.
  McpEventStream* events = nullptr;
};

// Serves one HTTP request to "/mcp" whose body has been read.
boost::asio::awaitable<HttpReply> handle_mcp(StatePtr state, McpSessions& sessions,
                                             McpRequest request, McpBatchLimits limits = {});

// The sessions of this process's "/mcp".
McpSessions& mcp_sessions();

}  // namespace cutrelay
