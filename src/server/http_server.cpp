#include "server/http_server.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/serializer.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>

#include "host/status.hpp"
#include "server/command_endpoint.hpp"
#include "server/mcp_endpoint.hpp"
#include "server/request_guard.hpp"
#include "server/ws_upgrade.hpp"
#include "common/crypto.hpp"
#include "common/log.hpp"
#include "common/system.hpp"
#include "hub/plugin_hub.hpp"
#include "common/async.hpp"

namespace cutrelay {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using namespace asio::experimental::awaitable_operators;

namespace {

// How long a client may take to send a request, idle time before it included, and to take
// an answer. Slow and idle clients only ever hold up their own connection, and not for
// long: each holds a descriptor.
constexpr std::chrono::seconds kRequestTimeout{60};
constexpr std::chrono::seconds kWriteTimeout{120};
constexpr std::uint32_t kMaxHeaderBytes = 64 * 1024;

// Descriptors kept free of agents' connections: for the plug-ins' connections, /health,
// files, children's pipes, and the connections let in past the cap below.
constexpr std::size_t kReservedDescriptors = 64;
// Connections let in past the cap; they are served /health and /ws only, and must send
// their request quickly.
constexpr std::size_t kMaxSqueezedConnections = 16;
constexpr std::chrono::seconds kSqueezedRequestTimeout{10};

// While a command waits, at most this much of the next (pipelined) request is read ahead
// of time; the client is then no longer watched for going away.
constexpr std::size_t kMaxReadAhead = 64 * 1024;

bool is_http_parse_error(const beast::error_code& ec) {
  static const beast::error_code probe = http::error::bad_method;
  return ec.category() == probe.category() && ec != http::error::end_of_stream &&
         ec != http::error::partial_message;
}

bool has_body(const http::request_parser<http::empty_body>& parser) {
  return parser.chunked() || parser.content_length().value_or(0) > 0;
}

template <class Fields, class Name>
std::optional<std::string_view> header_value(const Fields& fields, Name name) {
  const auto it = fields.find(name);
  if (it == fields.end()) return std::nullopt;
  return it->value();
}

// A response to HEAD is the head GET would have (content-length included) without the body:
// body bytes after it would be read by the client as the start of another response.
asio::awaitable<bool> send(beast::tcp_stream& stream, HttpReply reply, unsigned version,
                           bool keep_alive, bool head_only = false) {
  http::response<http::string_body> response{static_cast<http::status>(reply.status), version};
  if (!reply.content_type.empty()) response.set(http::field::content_type, reply.content_type);
  if (!reply.allow.empty()) response.set(http::field::allow, reply.allow);
  for (auto& [name, value] : reply.headers) response.set(name, value);
  response.body() = std::move(reply.body);
  response.keep_alive(keep_alive);
  response.prepare_payload();
  stream.expires_after(kWriteTimeout);
  if (head_only) {
    http::response_serializer<http::string_body> serializer(response);
    auto [ec, n] = co_await http::async_write_header(stream, serializer, nothrow);
    co_return !ec;
  }
  auto [ec, n] = co_await http::async_write(stream, response, nothrow);
  co_return !ec;
}

// Ends a connection whose client may still be sending (a body we refused to read). Closing
// at once would make the kernel answer the unread bytes with a reset, which can destroy
// the response before the client reads it; so stop sending, then read and discard what
// still comes for a short while.
asio::awaitable<void> lingering_close(beast::tcp_stream& stream) {
  beast::error_code ec;
  stream.socket().shutdown(tcp::socket::shutdown_send, ec);
  stream.expires_after(std::chrono::seconds(3));
  char sink[16384];
  std::size_t total = 0;
  while (total < (64u << 20)) {
    auto [rec, n] = co_await stream.async_read_some(asio::buffer(sink), nothrow);
    if (rec) break;
    total += n;
  }
  stream.socket().close(ec);
}

// Reads the rest of a request whose header is parsed. A small body has usually arrived with
// the header: what is buffered is parsed first, and the socket is read only for the rest.
template <class Parser>
asio::awaitable<beast::error_code> read_body(beast::tcp_stream& stream, beast::flat_buffer& buffer,
                                             Parser& parser) {
  beast::error_code ec;
  while (!parser.is_done() && buffer.size() > 0) {
    const std::size_t used = parser.put(buffer.data(), ec);
    buffer.consume(used);
    if (ec == http::error::need_more) {
      ec = {};
      break;
    }
    if (ec) co_return ec;
    if (used == 0) break;
  }
  if (parser.is_done()) co_return ec;
  auto [rec, n] = co_await http::async_read(stream, buffer, parser, nothrow);
  co_return rec;
}

// A response with an empty body, such as 404 or a route's 405.
HttpReply empty_reply(unsigned status, std::string allow = {}) {
  HttpReply reply;
  reply.status = status;
  reply.allow = std::move(allow);
  return reply;
}

// Agents' connections, counted so that their number stays below what the descriptor limit
// allows, whatever clients do: a full table of descriptors would stop the listener, and
// with it /health and the plug-ins' reconnections. Counted on the I/O thread only.
struct ConnectionCounts {
  std::size_t open = 0;      // served in full
  std::size_t squeezed = 0;  // let in past the cap: /health and /ws only
  bool full = false;         // said once per spell at the cap
};

enum class Admission { Full, Squeezed };

// One connection's place in the counts, given back when the connection ends.
class CountedConnection {
 public:
  CountedConnection(std::shared_ptr<ConnectionCounts> counts, Admission admission)
      : counts_(std::move(counts)), admission_(admission) {}
  CountedConnection(CountedConnection&& other) noexcept
      : counts_(std::move(other.counts_)), admission_(other.admission_) {}
  CountedConnection(const CountedConnection&) = delete;
  CountedConnection& operator=(const CountedConnection&) = delete;
  ~CountedConnection() {
    if (!counts_) return;
    --(admission_ == Admission::Full ? counts_->open : counts_->squeezed);
  }
  bool squeezed() const { return admission_ == Admission::Squeezed; }

 private:
  std::shared_ptr<ConnectionCounts> counts_;
  Admission admission_;
};

// The most agents' connections served in full: the descriptor limit (as it is now: it can
// be changed while the bridge runs) less a reserve.
std::size_t agent_connection_cap() {
  const std::optional<std::uint64_t> limit = open_descriptor_limit();
  if (!limit) return std::numeric_limits<std::size_t>::max();
  const auto soft = static_cast<std::size_t>(*limit);
  return soft > 2 * kReservedDescriptors ? soft - kReservedDescriptors : soft / 2;
}

// A place for a new connection: in full below the cap, squeezed past it, none past that.
std::optional<CountedConnection> admit(const std::shared_ptr<ConnectionCounts>& counts) {
  const std::size_t cap = agent_connection_cap();
  if (counts->open < cap) {
    ++counts->open;
    counts->full = false;
    return CountedConnection(counts, Admission::Full);
  }
  if (!counts->full) {
    counts->full = true;
    log_line("server: " + std::to_string(cap) +
             " connections are open, as many as the descriptor limit leaves room for; new "
             "ones are served /health and the plug-ins only until some close");
  }
  if (counts->squeezed < kMaxSqueezedConnections) {
    ++counts->squeezed;
    return CountedConnection(counts, Admission::Squeezed);
  }
  return std::nullopt;
}

// Whether the request carries "Authorization: Bearer <token>" with the bridge's token (the
// scheme's case is not significant).
bool has_bearer_token(std::optional<std::string_view> authorization, std::string_view token) {
  if (!authorization) return false;
  constexpr std::string_view kScheme = "Bearer ";
  if (authorization->size() < kScheme.size() ||
      !beast::iequals(authorization->substr(0, kScheme.size()), kScheme)) {
    return false;
  }
  return constant_time_equal(authorization->substr(kScheme.size()), token);
}

HttpReply bearer_required() {
  HttpReply reply = text_reply(
      401, "This bridge requires the header Authorization: Bearer <token>, with the token of "
           "~/.quor/cutrelay/connection.json.");
  reply.headers.emplace_back("WWW-Authenticate", "Bearer");
  return reply;
}

HttpReply too_many_connections() {
  HttpReply reply = text_reply(
      503, "The bridge has as many connections open as it can take; close idle ones and retry.");
  reply.headers.emplace_back("Retry-After", "1");
  return reply;
}

// Runs a command; once its client is gone the command is cancelled. What it waits for at
// that moment ends early (a plug-in call not yet sent is never sent, one already sent has
// its answer dropped), and nothing it awaits afterwards throws for it: the command winds
// down as after any other early end, and its answer is dropped.
asio::awaitable<HttpReply> cancelled_when_abandoned(asio::awaitable<HttpReply> command) {
  co_await asio::this_coro::throw_if_cancelled(false);
  co_return co_await std::move(command);
}

// Completes when the client has gone away (the end of its stream, or a reset) while its
// command runs; its socket is then closed at once, so an abandoned connection never holds a
// descriptor until the command's time-out. A client may already send its next request:
// those bytes are kept in `buffer` for the next read.
asio::awaitable<void> client_gone(beast::tcp_stream& stream, beast::flat_buffer& buffer) {
  auto& socket = stream.socket();
  while (buffer.size() < kMaxReadAhead) {
    auto [ec, n] = co_await socket.async_read_some(buffer.prepare(4096), nothrow);
    if (ec == asio::error::operation_aborted) co_return;  // the command ended first
    if (ec) {
      beast::error_code ignored;
      socket.shutdown(tcp::socket::shutdown_both, ignored);
      socket.close(ignored);
      co_return;
    }
    buffer.commit(n);
  }
  // Enough read ahead: the client is no longer watched.
  asio::steady_timer forever(co_await asio::this_coro::executor,
                             asio::steady_timer::time_point::max());
  co_await forever.async_wait(nothrow);
}

// The command's reply, or nothing when its client went away first.
asio::awaitable<std::optional<HttpReply>> run_while_client_waits(beast::tcp_stream& stream,
                                                                 beast::flat_buffer& buffer,
                                                                 asio::awaitable<HttpReply> command) {
  auto outcome = co_await (cancelled_when_abandoned(std::move(command)) || client_gone(stream, buffer));
  if (outcome.index() == 1) co_return std::nullopt;
  co_return std::move(std::get<0>(outcome));
}

// What a route leaves to the connection's one tail: a reply to send, or none when the route
// has answered already (an event stream); then whether the connection serves another
// request or is closed. A route may also end the connection at once: its client has gone
// (the socket is closed already), a write failed, or the route took the connection over.
struct Routed {
  std::optional<HttpReply> reply;
  bool keep_alive = false;
  bool end_now = false;

  static Routed answer(HttpReply reply, bool keep_alive) {
    return Routed{std::move(reply), keep_alive, false};
  }
  static Routed answered(bool keep_alive) { return Routed{std::nullopt, keep_alive, false}; }
  static Routed ended() { return Routed{std::nullopt, false, true}; }
};

using HeaderParser = http::request_parser<http::empty_body>;

// An answer given without reading the request's body. A body left unread would be taken for
// the next request, so a connection whose request has one is closed after the answer.
Routed answer_unread(HttpReply reply, const HeaderParser& header) {
  return Routed::answer(std::move(reply), header.get().keep_alive() && !has_body(header));
}

// POST /command (or /) and /mcp: the guards, the body, then the command, cancelled if its
// client goes away. `header` is taken over by the body parser.
asio::awaitable<Routed> serve_command(const StatePtr& state, beast::tcp_stream& stream,
                                      beast::flat_buffer& buffer, HeaderParser& header,
                                      bool mcp_route, bool squeezed) {
  const auto& request = header.get();
  const unsigned version = request.version();
  const http::verb method = request.method();
  const bool keep_alive = request.keep_alive();
  // Requests from web pages, requests without the token when one is required, and requests
  // past the connection cap are refused before their body is even read.
  if (auto refusal = guard_request(header_value(request, http::field::host),
                                   header_value(request, http::field::origin))) {
    co_return answer_unread(std::move(*refusal), header);
  }
  if (state->require_agent_token &&
      !has_bearer_token(header_value(request, http::field::authorization), state->token)) {
    co_return answer_unread(bearer_required(), header);
  }
  if (squeezed) co_return Routed::answer(too_many_connections(), false);
  // Otherwise the body is read before anything else is looked at.
  if (header.content_length() && *header.content_length() > kMaxCommandBody) {
    co_return Routed::answer(body_read_failure(true, {}), false);
  }
  if (beast::iequals(request[http::field::expect], "100-continue")) {
    http::response<http::empty_body> go_on{http::status::continue_, version};
    stream.expires_after(kWriteTimeout);
    auto [wec, wn] = co_await http::async_write(stream, go_on, nothrow);
    if (wec) co_return Routed::ended();
  }
  http::request_parser<http::string_body> full(std::move(header));
  full.body_limit(kMaxCommandBody);
  if (beast::error_code rec = co_await read_body(stream, buffer, full)) {
    co_return Routed::answer(body_read_failure(rec == http::error::body_limit, rec.message()),
                             false);
  }
  auto message = full.release();
  const auto content_type = header_value(message, http::field::content_type);
  // The command may take minutes; the client is not expected to send meanwhile.
  stream.expires_never();
  std::optional<HttpReply> reply;
  if (mcp_route) {
    // A tool call that reports progress is answered as an event stream, written as it runs.
    HttpEventStream events(stream, version, keep_alive);
    McpRequest mcp{method, content_type, header_value(message, http::field::accept),
                   header_value(message, "Mcp-Session-Id"),
                   header_value(message, "MCP-Protocol-Version"), std::move(message.body()), &events};
    reply = co_await run_while_client_waits(stream, buffer,
                                            handle_mcp(state, mcp_sessions(), std::move(mcp)));
    if (reply && reply->streamed) co_return Routed::answered(events.reusable());
  } else {
    reply = co_await run_while_client_waits(
        stream, buffer, handle_command(state, method, content_type, std::move(message.body())));
  }
  if (!reply) co_return Routed::ended();  // the client left; its socket is closed already
  co_return Routed::answer(std::move(*reply), keep_alive);
}

// GET /health. The report names the open project: web pages may not read it either.
asio::awaitable<Routed> serve_health(const StatePtr& state, const HeaderParser& header) {
  const auto& request = header.get();
  if (auto refusal = guard_request(header_value(request, http::field::host),
                                   header_value(request, http::field::origin))) {
    co_return answer_unread(std::move(*refusal), header);
  }
  HttpReply reply;
  reply.content_type = "application/json";
  reply.body = dump_compact(co_await health_report(state));
  co_return answer_unread(std::move(reply), header);
}

// The part of a request target after the first '?', if any.
std::string_view query_of(std::string_view target) {
  const std::size_t question = target.find('?');
  return question == std::string_view::npos ? std::string_view{} : target.substr(question + 1);
}

// GET /ws: a plug-in's upgrade. Once upgraded, the connection is the plug-in session's until
// it ends. `header` is taken over by the body parser.
asio::awaitable<Routed> serve_upgrade(const StatePtr& state, beast::tcp_stream& stream,
                                      beast::flat_buffer& buffer, HeaderParser& header) {
  // Copied: the header is taken over by the body parser.
  const std::string query(query_of(header.get().target()));
  http::request_parser<http::string_body> full(std::move(header));
  full.body_limit(64 * 1024);
  if (co_await read_body(stream, buffer, full)) co_return Routed::ended();
  auto message = full.release();
  if (auto refusal = check_upgrade(message, query, state->token)) {
    co_return Routed::answer(text_reply(refusal->status, refusal->body), message.keep_alive());
  }
  std::optional<std::string> nonce = challenge_nonce(query);
  co_await run_plugin_connection(state, std::move(stream), std::move(message), std::move(nonce));
  co_return Routed::ended();
}

asio::awaitable<Routed> route(const StatePtr& state, beast::tcp_stream& stream,
                              beast::flat_buffer& buffer, HeaderParser& header, bool squeezed) {
  const std::string_view target = header.get().target();
  // Copied: the header is taken over by the body parser of the routes that read a body.
  const std::string path(target.substr(0, target.find('?')));
  const http::verb method = header.get().method();

  if (path == "/" || path == "/command" || path == "/mcp") {
    co_return co_await serve_command(state, stream, buffer, header, path == "/mcp", squeezed);
  }
  if (path == "/ws" || path == "/health") {
    if (method != http::verb::get && method != http::verb::head) {
      co_return answer_unread(empty_reply(405, "GET,HEAD"), header);
    }
    if (path == "/health") co_return co_await serve_health(state, header);
    co_return co_await serve_upgrade(state, stream, buffer, header);
  }
  // Unknown paths (and routes not served yet): 404 with an empty body.
  co_return answer_unread(empty_reply(404), header);
}

// One connection: read a request's header, route it, send what the route answers, and go
// on while the connection is kept alive.
asio::awaitable<void> serve_connection(StatePtr state, beast::tcp_stream stream,
                                       CountedConnection counted) {
  beast::flat_buffer buffer;
  for (;;) {
    HeaderParser header;
    header.header_limit(kMaxHeaderBytes);
    header.body_limit(boost::none);  // the command endpoint applies its own limit
    stream.expires_after(counted.squeezed() ? kSqueezedRequestTimeout : kRequestTimeout);
    auto [ec, n] = co_await http::async_read_header(stream, buffer, header, nothrow);
    // A request we cannot even parse gets a plain 400; a closed or idle connection ends.
    if (ec && !is_http_parse_error(ec)) co_return;
    // Taken before routing: a route may hand the header over to a body parser.
    const unsigned version = ec ? 11 : header.get().version();
    const bool head = !ec && header.get().method() == http::verb::head;
    Routed routed = Routed::answer(empty_reply(400), false);
    if (!ec) routed = co_await route(state, stream, buffer, header, counted.squeezed());
    if (routed.end_now) co_return;
    if (routed.reply &&
        !co_await send(stream, std::move(*routed.reply), version, routed.keep_alive, head)) {
      co_return;
    }
    if (!routed.keep_alive) break;
  }
  co_await lingering_close(stream);
}

// Whether an accept error means the listener itself is gone. Every other error (out of
// descriptors or memory, a connection that died in the queue, and the network errors Linux
// passes on from accept: EPERM, ENETDOWN, EHOSTUNREACH, ENONET ...) concerns one
// connection or a passing shortage, and the server backs off and accepts again.
bool listener_closed(const boost::system::error_code& ec) {
  return ec == asio::error::operation_aborted || ec == asio::error::bad_descriptor;
}

// Without its listener nobody can reach the bridge, so it ends, saying why.
[[noreturn]] void end_without_listener(const std::string& why) {
  log_line("server: " + why);
  flush_log();
  std::_Exit(101);
}

// Accepts connections for as long as the bridge runs. The listener lives in this frame.
// Losing it ends the bridge, explicitly, where that is seen: a closed listener, or an
// exception out of an accept step (nobody could reach the bridge any more). Destroying the
// frame, as tearing down the io_context does, ends nothing.
asio::awaitable<void> accept_loop(StatePtr state, tcp::acceptor acceptor,
                                  std::shared_ptr<ConnectionCounts> counts) {
  try {
    auto ex = co_await asio::this_coro::executor;
    asio::steady_timer backoff(ex);
    auto pause = std::chrono::milliseconds(5);
    for (;;) {
      auto [ec, socket] = co_await acceptor.async_accept(nothrow);
      if (ec) {
        if (listener_closed(ec)) end_without_listener(ec.message());
        // Others finish and free what ran short: wait a little longer each time, up to a
        // second, rather than spin or stop serving. Said once per run of failures.
        if (pause == std::chrono::milliseconds(5)) {
          log_line("server: accept failed: " + ec.message() + "; accepting again shortly");
        }
        backoff.expires_after(pause);
        co_await backoff.async_wait(nothrow);
        pause = std::min(pause * 2, std::chrono::milliseconds(1000));
        continue;
      }
      pause = std::chrono::milliseconds(5);
      std::optional<CountedConnection> counted = admit(counts);
      if (!counted) {
        // Past the cap and the squeezed few: closed at once, so it holds no descriptor.
        socket.close(ec);
        continue;
      }
      socket.set_option(tcp::no_delay(true), ec);
      spawn_logged(ex, serve_connection(state, beast::tcp_stream(std::move(socket)),
                                        std::move(*counted)));
    }
  } catch (const std::exception& e) {
    end_without_listener(std::string("stopped accepting after an unexpected error: ") + e.what());
  } catch (...) {
    end_without_listener("stopped accepting after an unexpected error");
  }
}

}  // namespace

void start_http_server(StatePtr state, tcp::acceptor acceptor) {
  auto ex = acceptor.get_executor();
  spawn_logged(ex, accept_loop(std::move(state), std::move(acceptor),
                               std::make_shared<ConnectionCounts>()));
}

}  // namespace cutrelay
