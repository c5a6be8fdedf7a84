#include "server/mcp_endpoint.hpp"

#include <algorithm>
#include <cmath>
#include <deque>
#include <memory>

#include <boost/asio/dispatch.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/chunk_encode.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/serializer.hpp>
#include <boost/beast/http/write.hpp>

#include "catalog/catalog.hpp"
#include "catalog/mcp_tools.hpp"
#include "common/async.hpp"
#include "common/text.hpp"
#include "server/dispatch.hpp"
#include "server/startup.hpp"

namespace cutrelay {

namespace asio = boost::asio;
namespace http = boost::beast::http;
using namespace asio::experimental::awaitable_operators;

namespace {

// How long one event may take to reach the client before the stream counts as broken.
constexpr std::chrono::seconds kEventWriteTimeout{60};

}  // namespace

asio::awaitable<bool> HttpEventStream::write(std::string bytes, bool last) {
  if (!healthy_) co_return false;
  stream_.expires_after(kEventWriteTimeout);
  boost::system::error_code ec;
  if (version_ < 11) {
    std::tie(ec, std::ignore) = co_await asio::async_write(stream_, asio::buffer(bytes), nothrow);
  } else if (last) {
    std::tie(ec, std::ignore) = co_await asio::async_write(stream_, http::make_chunk_last(), nothrow);
  } else {
    std::tie(ec, std::ignore) = co_await asio::async_write(stream_, http::make_chunk(asio::buffer(bytes)), nothrow);
  }
  // Between events the call may run for minutes; nothing is expected of the client.
  stream_.expires_never();
  healthy_ = !ec;
  co_return healthy_;
}

asio::awaitable<bool> HttpEventStream::open() {
  http::response<http::empty_body> head{http::status::ok, version_};
  head.set(http::field::content_type, "text/event-stream");
  head.set(http::field::cache_control, "no-cache");
  head.keep_alive(keep_alive_);
  if (version_ >= 11) head.chunked(true);
  http::response_serializer<http::empty_body> serializer(head);
  stream_.expires_after(kEventWriteTimeout);
  auto [ec, n] = co_await http::async_write_header(stream_, serializer, nothrow);
  stream_.expires_never();
  healthy_ = !ec;
  co_return healthy_;
}

asio::awaitable<bool> HttpEventStream::send(std::string message) {
  co_return co_await write("event: message\ndata: " + message + "\n\n", false);
}

asio::awaitable<bool> HttpEventStream::close() {
  const bool done = version_ < 11 || co_await write({}, true);
  closed_ = done;
  co_return done;
}

bool is_supported_mcp_revision(std::string_view revision) {
  return std::find(std::begin(kMcpRevisions), std::end(kMcpRevisions), revision) !=
         std::end(kMcpRevisions);
}

json jsonrpc_error(const json& id, int code, std::string message) {
  return {{"jsonrpc", "2.0"},
          {"id", id},
          {"error", {{"code", code}, {"message", std::move(message)}}}};
}

std::string McpSessions::open(std::string revision) {
  std::string id = make_token();
  if (sessions_.size() >= capacity_) {
    auto oldest = std::min_element(sessions_.begin(), sessions_.end(), [](const auto& a, const auto& b) {
      return a.second.used < b.second.used;
    });
    sessions_.erase(oldest);
  }
  sessions_[id] = Session{std::move(revision), ++clock_};
  return id;
}

std::optional<std::string> McpSessions::revision(const std::string& id) {
  auto it = sessions_.find(id);
  if (it == sessions_.end()) return std::nullopt;
  it->second.used = ++clock_;
  return it->second.revision;
}

bool McpSessions::close(const std::string& id) {
  return sessions_.erase(id) > 0;
}

McpSessions& mcp_sessions() {
  static McpSessions sessions;
  return sessions;
}

namespace {

const std::string* string_member(const json& object, const char* key) {
  if (!object.is_object()) return nullptr;
  auto it = object.find(key);
  return it != object.end() && it->is_string() ? &it->get_ref<const std::string&>() : nullptr;
}

// Moves the Base64 of `holder.image` into a new image block of `content`.
void take_image(json& holder, json& content) {
  if (!holder.is_object()) return;
  auto it = holder.find("image");
  if (it == holder.end() || !it->is_object()) return;
  json& image = *it;
  const char* key = nullptr;
  for (const char* candidate : {"base64", "data"}) {
    const std::string* text = string_member(image, candidate);
    if (text && !text->empty()) {
      key = candidate;
      break;
    }
  }
  if (!key) return;
  std::string mime = "image/png";
  if (const std::string* m = string_member(image, "mime")) mime = *m;
  else if (const std::string* m2 = string_member(image, "mimeType")) mime = *m2;
  const std::size_t index = content.size();
  content.push_back({{"type", "image"},
                     {"data", std::move(image[key].get_ref<std::string&>())},
                     {"mimeType", std::move(mime)}});
  image[key] = "(Base64 omitted here: the image is content[" + std::to_string(index) +
               "] of this tool result)";
}

}  // namespace

json tool_call_result(json answer, bool structured) {
  json content = json::array({json::object()});  // the text block comes first
  take_image(answer, content);
  if (answer.is_object()) {
    if (auto frames = answer.find("frames"); frames != answer.end() && frames->is_array()) {
      for (json& frame : *frames) take_image(frame, content);
    }
  }
  const bool ok = answer.is_object() && answer.contains("success") && answer["success"] == true;
  content[0] = {{"type", "text"}, {"text", dump_compact(answer)}};
  json result = {{"content", std::move(content)}, {"isError", !ok}};
  if (structured && answer.is_object()) result["structuredContent"] = std::move(answer);
  return result;
}

namespace {

// The tool list as a revision knows it: `annotations` came with 2025-03-26.
const json& tools_for(std::string_view revision) {
  static const json current = {{"tools", mcp_tools()}};
  static const json plain = [] {
    json result = current;
    for (json& tool : result["tools"]) tool.erase("annotations");
    return result;
  }();
  if (revision >= "2025-03-26") return current;
  return plain;
}

// The tools/list result of a revision, serialised once: the list never changes.
const std::string& tools_text_for(std::string_view revision) {
  static const std::string current = dump_compact(tools_for("2025-11-25"));
  static const std::string plain = dump_compact(tools_for("2024-11-05"));
  if (revision >= "2025-03-26") return current;
  return plain;
}

bool has_structured_content(std::string_view revision) { return revision >= "2025-06-18"; }

// An id is echoed exactly as it came, so only ids that survive the round trip are taken:
// a text, or a whole number of at most 64 bits. 1.5, 1e3 or a 30-digit number would come
// back changed (as 1.2345678901234568e+29, say), and a client could not match its answer.
bool valid_id(const json& id) { return id.is_string() || id.is_number_integer(); }

json id_of(const json& message) {
  if (message.is_object()) {
    auto it = message.find("id");
    if (it != message.end() && valid_id(*it)) return *it;
  }
  return nullptr;
}

json result_message(const json& id, json result) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}};
}

// A response to send: a message, or (for the fixed tool list) its text, written once; or
// nothing left to send, when it went out as an event stream.
struct Response {
  json message;
  std::string text;
  bool streamed = false;
  std::string to_text() && { return text.empty() ? dump_compact(message) : std::move(text); }
};

struct Exchange {
  StatePtr state;
  std::string revision;      // the session's, or the one agreed by initialize
  bool may_initialize = false;
  bool initialized = false;  // set when initialize succeeded
  McpEventStream* events = nullptr;  // set when the answer may be an event stream
};

json initialize(Exchange& ex, const json& id, const json& params) {
  const std::string* asked = string_member(params, "protocolVersion");
  if (!asked) return jsonrpc_error(id, kInvalidParams, "initialize needs params.protocolVersion (a string)");
  ex.revision = is_supported_mcp_revision(*asked) ? *asked : std::string(kMcpRevisions[0]);
  ex.initialized = true;
  return result_message(
      id, {{"protocolVersion", ex.revision},
           {"capabilities", {{"tools", {{"listChanged", false}}}}},
           {"serverInfo", {{"name", "cutrelay"}, {"version", kVersion}}},
           {"instructions", mcp_instructions()}});
}

// The progress token a request carries in params._meta (a text or a whole number); one of
// another type is ignored, as if none had been sent.
std::optional<json> progress_token(const json& params) {
  const auto meta = params.find("_meta");
  if (meta == params.end() || !meta->is_object()) return std::nullopt;
  const auto token = meta->find("progressToken");
  if (token == meta->end() || !(token->is_string() || token->is_number_integer())) return std::nullopt;
  return *token;
}

json number_value(double value) {
  if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 9e15) {
    return static_cast<std::int64_t>(value);
  }
  return value;
}

// Progress notifications waiting to be written, in order, for one streamed call.
struct ProgressOutbox {
  explicit ProgressOutbox(asio::any_io_executor ex) : wake(std::move(ex)) {}
  std::deque<std::string> messages;
  asio::steady_timer wake;  // the writer sleeps on it; cancelled when there is work
  double last = -1;         // the progress last queued: each notification must exceed it
  bool finished = false;    // the call has answered: no more notifications

  void push(std::string message) {
    messages.push_back(std::move(message));
    wake.cancel();
  }
  void finish() {
    finished = true;
    wake.cancel();
  }
};

// The reports of a verb as notifications/progress for `token`. Progress must grow with each
// notification: a report that does not (a message at the same point) is moved just past the
// last one, or dropped when that would pass its total.
Progress progress_sink(std::shared_ptr<ProgressOutbox> out, json token, bool with_message,
                       asio::any_io_executor ex) {
  return [out, token, with_message, ex](ProgressReport step) {
    asio::dispatch(ex, [out, token, with_message, step = std::move(step)] {
      if (out->finished) return;
      double progress = step.progress;
      if (progress <= out->last) {
        progress = out->last + 0.001;
        if (step.total && progress > *step.total) return;
      }
      out->last = progress;
      json params = {{"progressToken", token}, {"progress", number_value(progress)}};
      if (step.total) params["total"] = number_value(*step.total);
      // `message` came with 2025-03-26.
      if (with_message && !step.message.empty()) params["message"] = step.message;
      out->push(dump_compact(
          {{"jsonrpc", "2.0"}, {"method", "notifications/progress"}, {"params", std::move(params)}}));
    });
  };
}

// Writes the outbox's notifications as they come until the call has answered. After the
// client is gone, what comes is dropped: the call runs to its end all the same.
asio::awaitable<void> write_progress(McpEventStream& events, std::shared_ptr<ProgressOutbox> out, bool& alive) {
  for (;;) {
    while (!out->messages.empty()) {
      std::string message = std::move(out->messages.front());
      out->messages.pop_front();
      if (alive) alive = co_await events.send(std::move(message));
    }
    if (out->finished) co_return;
    out->wake.expires_at(asio::steady_timer::time_point::max());
    co_await out->wake.async_wait(nothrow);
  }
}

asio::awaitable<void> run_reporting(StatePtr state, std::string name, json args, Progress progress,
                                    std::shared_ptr<ProgressOutbox> out, json& answer) {
  answer = co_await dispatch(std::move(state), std::move(name), std::move(args), std::move(progress));
  out->finish();
}

// A tools/call answered as an event stream: progress notifications while the verb runs,
// then the result. A client that leaves mid-call harms nothing: the call completes and its
// answer is dropped.
asio::awaitable<Response> call_tool_streaming(Exchange& ex, const json& id, std::string name, json args,
                                              json token) {
  McpEventStream& events = *ex.events;
  Response done{nullptr, {}, true};
  if (!co_await events.open()) co_return done;  // gone before anything ran
  auto executor = co_await asio::this_coro::executor;
  auto out = std::make_shared<ProgressOutbox>(executor);
  Progress sink = progress_sink(out, std::move(token), ex.revision >= "2025-03-26", executor);
  json answer;
  bool alive = true;
  co_await (run_reporting(ex.state, std::move(name), std::move(args), std::move(sink), out, answer) &&
            write_progress(events, out, alive));
  if (alive) {
    json result = result_message(id, tool_call_result(std::move(answer), has_structured_content(ex.revision)));
    if (co_await events.send(dump_compact(result))) co_await events.close();
  }
  co_return done;
}

asio::awaitable<Response> call_tool(Exchange& ex, const json& id, const json& params) {
  const std::string* name = string_member(params, "name");
  if (!name) co_return jsonrpc_error(id, kInvalidParams, "tools/call needs params.name (a string)");
  std::string_view verb(*name);
  const VerbRecord* record =
      verb.starts_with(kVerbPrefix) ? find_verb(verb.substr(kVerbPrefix.size())) : nullptr;
  if (record == nullptr) co_return jsonrpc_error(id, kInvalidParams, "Unknown tool: " + *name);
  json args = json::object();
  if (auto it = params.find("arguments"); it != params.end() && !it->is_null()) {
    if (!it->is_object()) {
      co_return jsonrpc_error(id, kInvalidParams, "tools/call params.arguments must be an object");
    }
    args = *it;
  }
  // Unlike the command endpoint, MCP holds a call to its tool's schema: a misspelt or
  // mistyped argument is refused before anything runs, so the model can correct it.
  apply_aliases(*record, args);
  if (auto problem = tool_argument_problem(*record, args)) {
    co_return jsonrpc_error(id, kInvalidParams, std::move(*problem));
  }
  if (auto token = progress_token(params); token && record->reports_progress && ex.events) {
    co_return co_await call_tool_streaming(ex, id, *name, std::move(args), std::move(*token));
  }
  json answer = co_await dispatch(ex.state, *name, std::move(args));
  co_return result_message(id, tool_call_result(std::move(answer), has_structured_content(ex.revision)));
}

// One JSON-RPC message; the response to send, or nothing for notifications and responses.
asio::awaitable<std::optional<Response>> handle_message(Exchange& ex, const json& message) {
  if (!message.is_object()) {
    co_return jsonrpc_error(nullptr, kInvalidRequest, "A JSON-RPC message must be an object");
  }
  const json id = id_of(message);
  const auto version = message.find("jsonrpc");
  if (version == message.end() || *version != "2.0") {
    co_return jsonrpc_error(id, kInvalidRequest, "jsonrpc must be \"2.0\"");
  }
  const auto method_it = message.find("method");
  const bool has_id = message.contains("id");
  if (method_it == message.end()) {
    // A client's response to a server request; we never send any, so there is nothing to do.
    if (has_id && valid_id(message["id"]) && (message.contains("result") || message.contains("error"))) {
      co_return std::nullopt;
    }
    co_return jsonrpc_error(id, kInvalidRequest, "A JSON-RPC request needs a method");
  }
  if (!method_it->is_string()) co_return jsonrpc_error(id, kInvalidRequest, "method must be a string");
  const auto params_it = message.find("params");
  const bool has_params = params_it != message.end();
  if (has_params && !params_it->is_object() && !params_it->is_array()) {
    co_return jsonrpc_error(id, kInvalidRequest, "params must be an object");
  }
  if (!has_id) co_return std::nullopt;  // notifications need no answer
  if (!valid_id(message["id"])) {
    co_return jsonrpc_error(nullptr, kInvalidRequest,
                            "id must be a string or a whole number of at most 64 bits, which come back exactly");
  }
  const std::string& method = method_it->get_ref<const std::string&>();
  static const json empty = json::object();
  if (has_params && !params_it->is_object()) {
    co_return jsonrpc_error(id, kInvalidParams, "params must be an object");
  }
  const json& params = has_params ? *params_it : empty;
  if (method == "initialize") {
    if (!ex.may_initialize) {
      co_return jsonrpc_error(id, kInvalidRequest, "initialize must be sent alone, to start a session");
    }
    co_return initialize(ex, id, params);
  }
  if (method == "ping") co_return result_message(id, json::object());
  if (method == "tools/list") {
    // Members in sorted order, as every object we write: id, jsonrpc, result.
    co_return Response{nullptr, "{\"id\":" + dump_compact(id) + ",\"jsonrpc\":\"2.0\",\"result\":" +
                                    tools_text_for(ex.revision) + "}"};
  }
  if (method == "tools/call") co_return co_await call_tool(ex, id, params);
  co_return jsonrpc_error(id, kMethodNotFound, "Method not found: " + method);
}

struct Acceptance {
  bool json = false;
  bool event_stream = false;
};

Acceptance parse_accept(std::optional<std::string_view> accept) {
  if (!accept) return {true, true};  // no Accept header: any type will do
  Acceptance result;
  std::string_view rest = *accept;
  while (!rest.empty()) {
    const auto comma = rest.find(',');
    std::string_view range = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
    range = trim(range.substr(0, range.find(';')));
    using boost::beast::iequals;
    if (iequals(range, "*/*")) result = {true, true};
    if (iequals(range, "application/json") || iequals(range, "application/*")) result.json = true;
    if (iequals(range, "text/event-stream") || iequals(range, "text/*")) result.event_stream = true;
  }
  return result;
}

HttpReply rpc_text_reply(unsigned status, std::string text, const Acceptance& accept) {
  HttpReply reply;
  reply.status = status;
  if (!accept.json && accept.event_stream) {
    // A client that takes only a stream gets one event holding the response.
    reply.content_type = "text/event-stream";
    reply.body = "event: message\ndata: " + text + "\n\n";
  } else {
    reply.content_type = "application/json";
    reply.body = std::move(text);
  }
  return reply;
}

HttpReply rpc_reply(unsigned status, const json& body, const Acceptance& accept) {
  return rpc_text_reply(status, dump_compact(body), accept);
}

bool is_framing_error(const json& response) {
  const json* error = response.is_object() && response.contains("error") ? &response["error"] : nullptr;
  if (!error || !error->is_object() || !error->contains("code")) return false;
  const json& code = (*error)["code"];
  return code == kInvalidRequest || code == kParseError;
}

std::string supported_list() {
  std::string list;
  for (std::string_view revision : kMcpRevisions) {
    if (!list.empty()) list += ", ";
    list += revision;
  }
  return list;
}

}  // namespace

// GCC 12 inlines Asio's coroutine frame allocator here and then warns that the frame's
// operator delete does not match it (it does: both go through Asio's recycling allocator).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
asio::awaitable<HttpReply> handle_mcp(StatePtr state, McpSessions& sessions, McpRequest request,
                                      McpBatchLimits limits) {
  const Acceptance any{true, true};
  if (request.method == http::verb::delete_) {
    if (!request.session_id) {
      co_return rpc_reply(400, jsonrpc_error(nullptr, kInvalidRequest, "Mcp-Session-Id header is required"), any);
    }
    if (!sessions.close(std::string(*request.session_id))) {
      co_return rpc_reply(404, jsonrpc_error(nullptr, kSessionNotFound, "Session not found"), any);
    }
    HttpReply done;
    done.status = 204;
    co_return done;
  }
  if (request.method != http::verb::post) {
    // No server-initiated stream: every answer comes back on its request.
    HttpReply reply;
    reply.status = 405;
    reply.allow = "POST, DELETE";
    co_return reply;
  }
  const Acceptance accept = parse_accept(request.accept);
  if (!accept.json && !accept.event_stream) {
    co_return rpc_reply(406, jsonrpc_error(nullptr, kInvalidRequest,
                                           "Not Acceptable: Accept must list application/json or text/event-stream"),
                        any);
  }
  if (!is_json_content_type(request.content_type)) {
    co_return rpc_reply(415, jsonrpc_error(nullptr, kInvalidRequest,
                                           "Unsupported Media Type: Content-Type must be application/json"),
                        accept);
  }
  JsonParseResult parsed = parse_json(request.body);
  request.body.clear();
  request.body.shrink_to_fit();
  if (!parsed.value) {
    co_return rpc_reply(400, jsonrpc_error(nullptr, kParseError, "Parse error: " + parsed.error), accept);
  }
  const json& body = *parsed.value;
  const json id = id_of(body);

  Exchange ex{std::move(state), {}, false, false};
  const bool initializing = body.is_object() && body.contains("method") && body["method"] == "initialize";
  if (initializing) {
    ex.may_initialize = true;
  } else {
    if (!request.session_id) {
      co_return rpc_reply(400, jsonrpc_error(id, kInvalidRequest,
                                             "Mcp-Session-Id header is required: send initialize first"),
                          accept);
    }
    auto revision = sessions.revision(std::string(*request.session_id));
    if (!revision) {
      co_return rpc_reply(404, jsonrpc_error(id, kSessionNotFound,
                                             "Session not found: send initialize to start a new one"),
                          accept);
    }
    if (request.protocol_version && !is_supported_mcp_revision(*request.protocol_version)) {
      co_return rpc_reply(400, jsonrpc_error(id, kInvalidRequest,
                                             "Unsupported MCP-Protocol-Version: " +
                                                 std::string(*request.protocol_version) +
                                                 " (supported: " + supported_list() + ")"),
                          accept);
    }
    ex.revision = std::move(*revision);
  }

  if (body.is_array()) {
    // Only 2025-03-26 has batches; the revisions before and after it do not.
    if (ex.revision != "2025-03-26") {
      co_return rpc_reply(400, jsonrpc_error(nullptr, kInvalidRequest,
                                             "Batches are not part of MCP " + ex.revision),
                          accept);
    }
    if (body.empty()) {
      co_return rpc_reply(400, jsonrpc_error(nullptr, kInvalidRequest, "An empty batch"), accept);
    }
    if (body.size() > limits.messages) {
      co_return rpc_reply(400, jsonrpc_error(nullptr, kInvalidRequest,
                                             "A batch may hold at most " + std::to_string(limits.messages) +
                                                 " messages; this one holds " + std::to_string(body.size())),
                          accept);
    }
    // The answer is bounded too: once it holds limits.answer_bytes, the requests after that
    // are not run but answered with an error (nothing that ran loses its answer).
    std::string answer = "[";
    std::size_t answered = 0;
    for (const json& message : body) {
      std::optional<Response> response;
      if (answer.size() < limits.answer_bytes) {
        response = co_await handle_message(ex, message);
      } else if (const json id = id_of(message); !id.is_null()) {
        response = Response{jsonrpc_error(id, kInvalidRequest,
                                          "Not run: the batch's answer already holds " + std::to_string(answer.size()) +
                                              " bytes (at most " + std::to_string(limits.answer_bytes) +
                                              "); send this request again on its own"),
                            {}};
      }
      if (!response) continue;
      if (answered++ > 0) answer += ',';
      answer += std::move(*response).to_text();
    }
    if (answered == 0) co_return HttpReply{202, {}, {}, {}};
    answer += ']';
    co_return rpc_text_reply(200, std::move(answer), accept);
  }

  // Only a lone request can be answered as a stream, and only to a client that takes one.
  if (accept.event_stream) ex.events = request.events;
  std::optional<Response> response = co_await handle_message(ex, body);
  if (!response) co_return HttpReply{202, {}, {}, {}};
  if (response->streamed) {
    HttpReply sent;
    sent.streamed = true;
    co_return sent;
  }
  HttpReply reply;
  if (!response->text.empty()) {
    reply = rpc_text_reply(200, std::move(response->text), accept);
  } else {
    reply = rpc_reply(is_framing_error(response->message) ? 400 : 200, response->message, accept);
  }
  if (ex.initialized) reply.headers.emplace_back("Mcp-Session-Id", sessions.open(ex.revision));
  co_return reply;
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

}  // namespace cutrelay
