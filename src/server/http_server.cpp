#include "server/http_server.hpp"

#include <atomic>
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
#include <boost/asio/strand.hpp>
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
// with it /health and the plug-ins' reconnections.
struct ConnectionCounts {
  std::atomic<std::size_t> open{0};      // served in full
  std::atomic<std::size_t> squeezed{0};  // let in past the cap: /health and /ws only
  std::atomic<bool> full{false};         // said once per spell at the cap
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
    (admission_ == Admission::Full ? counts_->open : counts_->squeezed).fetch_sub(1);
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
  if (counts->open.fetch_add(1) < cap) {
    counts->full = false;
    return CountedConnection(counts, Admission::Full);
  }
  counts->open.fetch_sub(1);
  if (!counts->full.exchange(true)) {
    log_line("server: " + std::to_string(cap) +
             " connections are open, as many as the descriptor limit leaves room for; new "
             "ones are served /health and the plug-ins only until some close");
  }
  if (counts->squeezed.fetch_add(1) < kMaxSqueezedConnections) {
    return CountedConnection(counts, Admission::Squeezed);
  }
  counts->squeezed.fetch_sub(1);
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

asio::awaitable<void> serve_connection(StatePtr state, beast::tcp_stream stream,
                                       CountedConnection counted) {
  beast::flat_buffer buffer;
  for (;;) {
    http::request_parser<http::empty_body> header;
    header.header_limit(kMaxHeaderBytes);
    header.body_limit(boost::none);  // the command endpoint applies its own limit below
    stream.expires_after(counted.squeezed() ? kSqueezedRequestTimeout : kRequestTimeout);
    auto [ec, n] = co_await http::async_read_header(stream, buffer, header, nothrow);
    if (ec) {
      // A request we cannot even parse gets a plain 400; a closed or idle connection ends.
      if (is_http_parse_error(ec) && co_await send(stream, empty_reply(400), 11, false)) {
        co_await lingering_close(stream);
      }
      co_return;
    }

    const auto& request = header.get();
    const unsigned version = request.version();
    const std::string_view target = request.target();
    const std::size_t question = target.find('?');
    const std::string_view path = target.substr(0, question);
    const std::string query(question == std::string_view::npos ? std::string_view{}
                                                               : target.substr(question + 1));
    const http::verb method = request.method();
    const bool head = method == http::verb::head;
    bool keep_alive = request.keep_alive();

    if (path == "/" || path == "/command" || path == "/mcp") {
      // Decided now: `path` views the header, which the body parser below takes over.
      const bool mcp_route = path == "/mcp";
      // Requests from web pages, requests without the token when one is required, and
      // requests past the connection cap are refused before their body is even read.
      std::optional<HttpReply> refusal = guard_request(header_value(request, http::field::host),
                                                       header_value(request, http::field::origin));
      if (!refusal && state->require_agent_token &&
          !has_bearer_token(header_value(request, http::field::authorization), state->token)) {
        refusal = bearer_required();
      }
      if (!refusal && counted.squeezed()) {
        refusal = too_many_connections();
        keep_alive = false;
      }
      if (refusal) {
        const bool reuse = keep_alive && !has_body(header);
        if (!co_await send(stream, std::move(*refusal), version, reuse, head)) co_return;
        if (!reuse) break;
        continue;
      }
      // Otherwise the body is read before anything else is looked at.
      if (header.content_length() && *header.content_length() > kMaxCommandBody) {
        if (co_await send(stream, body_read_failure(true, {}), version, false, head)) {
          co_await lingering_close(stream);
        }
        co_return;
      }
      if (beast::iequals(request[http::field::expect], "100-continue")) {
        http::response<http::empty_body> go_on{http::status::continue_, version};
        stream.expires_after(kWriteTimeout);
        auto [wec, wn] = co_await http::async_write(stream, go_on, nothrow);
        if (wec) co_return;
      }
      http::request_parser<http::string_body> full(std::move(header));
      full.body_limit(kMaxCommandBody);
      beast::error_code rec = co_await read_body(stream, buffer, full);
      if (rec) {
        if (co_await send(stream, body_read_failure(rec == http::error::body_limit, rec.message()),
                          version, false, head)) {
          co_await lingering_close(stream);
        }
        co_return;
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
        reply = co_await run_while_client_waits(
            stream, buffer, handle_mcp(state, mcp_sessions(), std::move(mcp)));
        if (reply && reply->streamed) {
          if (!events.reusable()) break;
          continue;
        }
      } else {
        reply = co_await run_while_client_waits(
            stream, buffer,
            handle_command(state, method, content_type, std::move(message.body())));
      }
      if (!reply) co_return;  // the client left; its socket is closed already
      if (!co_await send(stream, std::move(*reply), version, keep_alive, head)) co_return;
      if (!keep_alive) break;
      continue;
    }

    if (path == "/ws" || path == "/health") {
      if (method != http::verb::get && method != http::verb::head) {
        const bool reuse = keep_alive && !has_body(header);
        if (!co_await send(stream, empty_reply(405, "GET,HEAD"), version, reuse)) co_return;
        if (!reuse) break;
        continue;
      }
    }

    if (path == "/health") {
      const bool reuse = keep_alive && !has_body(header);
      // The report names the open project: web pages may not read it either.
      if (auto refusal = guard_request(header_value(request, http::field::host),
                                       header_value(request, http::field::origin))) {
        if (!co_await send(stream, std::move(*refusal), version, reuse, head)) co_return;
        if (!reuse) break;
        continue;
      }
      HttpReply reply;
      reply.content_type = "application/json";
      reply.body = dump_compact(co_await health_report(state));
      if (!co_await send(stream, std::move(reply), version, reuse, head)) co_return;
      if (!reuse) break;
      continue;
    }

    if (path == "/ws") {
      http::request_parser<http::string_body> full(std::move(header));
      full.body_limit(64 * 1024);
      if (co_await read_body(stream, buffer, full)) co_return;
      auto message = full.release();
      if (auto refusal = check_upgrade(message, query, state->token)) {
        if (!co_await send(stream, text_reply(refusal->status, refusal->body), version,
                           keep_alive, head)) {
          co_return;
        }
        if (!keep_alive) break;
        continue;
      }
      co_await run_plugin_connection(std::move(state), std::move(stream), std::move(message),
                                     challenge_nonce(query));
      co_return;
    }

    // Unknown paths (and routes not served yet): 404 with an empty body. A body we do not
    // read would be taken for the next request, so such a connection is closed.
    const bool reuse = keep_alive && !has_body(header);
    if (!co_await send(stream, empty_reply(404), version, reuse)) co_return;
    if (!reuse) break;
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

// The context a new connection is served on. While a UXP plug-in is connected, agents'
// connections join its context, so a forwarded call and its result stay on the thread
// that reads and writes both; otherwise connections take turns.
asio::io_context& place_connection(const BridgeState& state, WorkerPool& pool) {
  return pool.context(pool.pick(state.registry.worker_of(PluginRuntime::Uxp)));
}

// Without its listener nobody can reach the bridge, so it ends, saying why.
[[noreturn]] void end_without_listener(const std::string& why) {
  log_line("server: " + why);
  flush_log();
  std::_Exit(101);
}

// The listener lives in the accepting loop's frame, and the loop never ends but by handing
// the listener to another worker: nothing stops the workers, and a closed listener ends
// the process. Should an exception escape an accept (Asio then destroys the frame), the
// bridge would run on with nobody able to reach it; it ends instead, as it does when the
// listener is closed.
struct EndWhenTheListenerGoes {
  bool handed_over = false;
  ~EndWhenTheListenerGoes() {
    if (!handed_over) end_without_listener("stopped accepting after an unexpected error");
  }
};

// The listener as an acceptor of `to`, or nothing when it could not be moved (it then
// stays with `from`).
std::optional<tcp::acceptor> move_listener(tcp::acceptor& from, asio::io_context& to) {
  boost::system::error_code ec;
  const tcp::endpoint local = from.local_endpoint(ec);
  if (ec) return std::nullopt;
  const auto native = from.release(ec);
  if (ec) return std::nullopt;
  tcp::acceptor moved(to);
  moved.assign(local.protocol(), native, ec);
  if (!ec) return moved;
  from.assign(local.protocol(), native, ec);
  if (ec) end_without_listener("lost the listener: " + ec.message());
  return std::nullopt;
}

asio::awaitable<void> accept_loop(StatePtr state, tcp::acceptor acceptor, WorkerPool& pool,
                                  std::shared_ptr<ConnectionCounts> counts) {
  EndWhenTheListenerGoes listener_guard;
  auto ex = co_await asio::this_coro::executor;
  asio::steady_timer backoff(ex);
  auto pause = std::chrono::milliseconds(5);
  for (;;) {
    auto [ec, socket] =
        co_await acceptor.async_accept(place_connection(*state, pool), nothrow);
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
    } else {
      socket.set_option(tcp::no_delay(true), ec);
      auto conn_ex = socket.get_executor();
      spawn_logged(conn_ex, serve_connection(state, beast::tcp_stream(std::move(socket)),
                                             std::move(*counted)));
    }

    // New connections are served on the UXP plug-in's worker while it is connected; the
    // listener follows it there, so accepting a connection does not wake another thread.
    const std::optional<unsigned> plugin_worker = state->registry.worker_of(PluginRuntime::Uxp);
    if (plugin_worker && *plugin_worker < pool.size() && plugin_worker != WorkerPool::current()) {
      if (auto moved = move_listener(acceptor, pool.context(*plugin_worker))) {
        listener_guard.handed_over = true;
        auto target = moved->get_executor();
        spawn_logged(target, accept_loop(state, std::move(*moved), pool, counts));
        co_return;
      }
    }
  }
}

}  // namespace

void start_http_server(StatePtr state, tcp::acceptor acceptor, WorkerPool& pool) {
  auto ex = acceptor.get_executor();
  spawn_logged(ex, accept_loop(std::move(state), std::move(acceptor), pool,
                               std::make_shared<ConnectionCounts>()));
}

}  // namespace cutrelay
