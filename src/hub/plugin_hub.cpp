#include "hub/plugin_hub.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <boost/beast/websocket/stream.hpp>

#include "catalog/catalog.hpp"
#include "common/args.hpp"
#include "hub/batching_stream.hpp"
#include "hub/event_feed.hpp"
#include "hub/handshake.hpp"
#include "common/log.hpp"
#include "common/async.hpp"
#include "common/text.hpp"

namespace cutrelay {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using namespace asio::experimental::awaitable_operators;

bool is_connected(BridgeState& state, PluginRuntime runtime) {
  return state.registry.is_connected(runtime);
}

bool is_connected(BridgeState& state, std::string_view runtime) {
  const auto named = runtime_named(runtime);
  return named && state.registry.is_connected(*named);
}

std::optional<std::pair<json, std::uint64_t>> plugin_record(BridgeState& state,
                                                            PluginRuntime runtime) {
  return state.registry.hello_of(runtime);
}

std::optional<std::pair<json, std::uint64_t>> plugin_record(BridgeState& state,
                                                            std::string_view runtime) {
  const auto named = runtime_named(runtime);
  if (!named) return std::nullopt;
  return state.registry.hello_of(*named);
}

namespace {

// Texts every connection is sent alike, serialised once.
const std::shared_ptr<const std::string>& welcome_text() {
  static const auto text = std::make_shared<const std::string>(
      dump_compact({{"bridgeVersion", kVersion}, {"protocol", kProtocol}, {"type", "welcome"}}));
  return text;
}

const std::shared_ptr<const std::string>& ping_text() {
  static const auto text = std::make_shared<const std::string>(dump_compact({{"type", "ping"}}));
  return text;
}

void deliver_result(BridgeState& state, std::uint64_t id, json message) {
  // A caller that already gave up has no entry any more, or finds its slot settled: the
  // message is dropped.
  if (auto slot = state.registry.take_call(id)) slot->deliver(std::move(message));
}

void register_hello(BridgeState& state, std::uint64_t conn_id,
                    const std::shared_ptr<Outbox>& outbox, json hello) {
  const auto runtime_member = hello.find("runtime");
  const bool cep = runtime_member != hello.end() && runtime_member->is_string() &&
                   runtime_member->get_ref<const std::string&>() == "cep";
  const PluginRuntime runtime = cep ? PluginRuntime::Cep : PluginRuntime::Uxp;
  log_line("[cutrelay] " + std::string(runtime_name(runtime)) +
           " connected: " + loggable_json(hello));
  // The welcome is queued before the record becomes visible: a call can only be queued once
  // the record is filed, so it always follows the welcome.
  outbox->push(welcome_text());
  const std::shared_ptr<Outbox> superseded = state.registry.file(PluginRecord{
      .runtime = runtime,
      .connected_at = Clock::now(),
      .hello = std::move(hello),
      .outbox = outbox,
      .conn_id = conn_id,
  });
  // The connection this hello replaced gets no more calls; it is ended rather than left
  // open with its keep-alive running. Its writer stops, which ends its session. Calls
  // still waiting on it run to their time-out: a plug-in that reconnected may answer
  // them by id on its new connection.
  if (superseded) superseded->close();
}

}  // namespace

void handle_plugin_message(BridgeState& state, std::uint64_t conn_id,
                           const std::shared_ptr<Outbox>& outbox, std::string_view text) {
  JsonParseResult parsed = parse_json(text);
  if (!parsed.value) return;
  handle_plugin_json(state, conn_id, outbox, std::move(*parsed.value));
}

void handle_plugin_json(BridgeState& state, std::uint64_t conn_id,
                        const std::shared_ptr<Outbox>& outbox, json message) {
  if (!message.is_object()) return;
  const auto type_member = message.find("type");
  if (type_member == message.end() || !type_member->is_string()) return;
  const std::string& type = type_member->get_ref<const std::string&>();
  if (type == "result") {
    const auto id_member = message.find("id");
    if (id_member == message.end()) return;
    const auto id = as_uint(*id_member);
    if (!id) return;
    deliver_result(state, *id, std::move(message));
  } else if (type == "hello") {
    register_hello(state, conn_id, outbox, std::move(message));
  } else if (type == "event") {
    record_event(state, std::move(message));
  } else if (type == "hello_update") {
    const auto fields = message.find("fields");
    if (fields != message.end()) state.registry.amend_hello(conn_id, *fields);
  }
}

std::vector<PluginRuntime> end_plugin_connection(BridgeState& state, std::uint64_t conn_id) {
  std::vector<PluginRuntime> removed = state.registry.end_connection(conn_id);
  for (const PluginRuntime runtime : removed) {
    log_line("[cutrelay] " + std::string(runtime_name(runtime)) + " disconnected");
  }
  return removed;
}

HandshakeStep check_handshake_message(const json& message, std::string_view expected_proof) {
  if (!message.is_object()) return HandshakeStep::Refused;
  const std::string* type = arg_string(message, "type");
  if (type != nullptr && *type == "pong") return HandshakeStep::Ignored;
  if (type == nullptr || *type != "hello") return HandshakeStep::Refused;
  const std::string* proof = arg_string(message, "proof");
  if (proof == nullptr || !constant_time_equal(*proof, expected_proof)) return HandshakeStep::Refused;
  return HandshakeStep::Passed;
}

asio::awaitable<void> contained(asio::awaitable<void> task, const char* what) {
  try {
    co_await std::move(task);
  } catch (const boost::system::system_error& e) {
    // The other branches are cancelled when one ends: that is how every connection ends,
    // not a failure.
    if (e.code() == asio::error::operation_aborted) co_return;
    log_line(std::string("[cutrelay] plug-in connection ") + what + " failed: " + e.what());
  } catch (const std::exception& e) {
    log_line(std::string("[cutrelay] plug-in connection ") + what + " failed: " + e.what());
  } catch (...) {
    log_line(std::string("[cutrelay] plug-in connection ") + what + " failed");
  }
}

namespace {

// Messages up to this size reuse the connection's read buffer; a larger one's buffer is
// released after it is handled, so one huge message does not pin its memory for ever.
constexpr std::size_t kKeptReadBuffer = 4u << 20;

// Texts up to this size are held back and sent together when several are queued at once;
// a larger one is sent on its own, and a batch is sent once it reaches kMaxBatchBytes.
constexpr std::size_t kBatchedText = 16 * 1024;
constexpr std::size_t kMaxBatchBytes = 64 * 1024;

struct PluginSession : std::enable_shared_from_this<PluginSession> {
  PluginSession(StatePtr s, beast::tcp_stream stream)
      : state(std::move(s)),
        ws(std::move(stream)),
        outbox(std::make_shared<Outbox>(ws.get_executor())) {}

  StatePtr state;
  websocket::stream<BatchingStream<beast::tcp_stream>> ws;
  std::shared_ptr<Outbox> outbox;
  std::uint64_t conn_id = 0;
  // Until the plug-in's proof has come, a challenged connection is no plug-in: nothing it
  // sends is handled and it is never registered, so no call can reach it.
  bool authenticated = true;
  std::string expected_proof;

  // Queues the challenge; the connection must answer it within the handshake time-out.
  void challenge(std::string_view plugin_nonce) {
    authenticated = false;
    const std::string bridge_nonce = new_nonce();
    expected_proof = plugin_proof(state->token, state->port, bridge_nonce, plugin_nonce);
    outbox->push(challenge_text(bridge_nonce,
                                bridge_proof(state->token, state->port, plugin_nonce, bridge_nonce)));
  }

  // Ends the connection when it has not passed the challenge in time; otherwise waits
  // until the connection ends for another reason.
  asio::awaitable<void> handshake_deadline() {
    asio::steady_timer timer(co_await asio::this_coro::executor);
    timer.expires_after(state->handshake_timeout);
    auto [ec] = co_await timer.async_wait(nothrow);
    if (ec) co_return;
    if (!authenticated) {
      refuse("did not answer the challenge in time");
      co_return;
    }
    timer.expires_at(asio::steady_timer::time_point::max());
    co_await timer.async_wait(nothrow);
  }

  void refuse(std::string_view why) {
    log_line("[cutrelay] closed a plug-in connection that " + std::string(why));
  }

  asio::awaitable<void> write_loop() {
    std::vector<OutgoingText> batch;
    for (;;) {
      co_await outbox->ready();
      outbox->drain(batch);
      if (batch.empty()) {
        if (outbox->closed()) co_return;
        continue;  // only calls whose callers gave up were queued
      }
      auto& out = ws.next_layer();
      // Liveness is checked again per text: a caller may give up while earlier texts are
      // written.
      const auto next_live = [&batch](std::size_t from) {
        while (from < batch.size() && !batch[from].live()) ++from;
        return from;
      };
      for (std::size_t i = next_live(0); i < batch.size();) {
        const std::size_t after = next_live(i + 1);
        const bool small = batch[i].text->size() <= kBatchedText;
        const bool more = after < batch.size();
        // Held texts leave with the write of this one: a large text, the one that fills the
        // batch, or the last one.
        if (out.holding() && (!small || out.held() >= kMaxBatchBytes || !more)) {
          out.send_held_with_next_write();
        } else if (!out.holding() && small && more) {
          out.hold();
        }
        ws.text(true);
        auto [ec, n] = co_await ws.async_write(asio::buffer(*batch[i].text), nothrow);
        if (ec) co_return;
        // While texts are held, the one they were counted on to leave with is written even
        // if its caller has given up since, so nothing is ever left behind in the buffer.
        i = out.holding() ? after : next_live(after);
      }
      batch.clear();
    }
  }

  asio::awaitable<void> keep_alive() {
    asio::steady_timer timer(co_await asio::this_coro::executor);
    for (;;) {
      timer.expires_after(state->ping_interval);
      auto [ec] = co_await timer.async_wait(nothrow);
      if (ec || !outbox->push(ping_text())) co_return;
    }
  }

  asio::awaitable<void> read_loop() {
    std::string text;
    for (;;) {
      text.clear();
      auto buffer = asio::dynamic_buffer(text, kMaxPluginMessage);
      auto [ec, n] = co_await ws.async_read(buffer, nothrow);
      if (ec) co_return;
      if (ws.got_binary() && !is_valid_utf8(text)) text = to_valid_utf8(text);
      if (authenticated) {
        handle_plugin_message(*state, conn_id, outbox, text);
      } else {
        JsonParseResult parsed = parse_json(text);
        json message = parsed.value ? std::move(*parsed.value) : json();
        switch (check_handshake_message(message, expected_proof)) {
          case HandshakeStep::Ignored:
            break;
          case HandshakeStep::Refused:
            refuse("did not prove it knows the token");
            co_return;
          case HandshakeStep::Passed:
            authenticated = true;
            message.erase("proof");  // spent; the stored hello is what the plug-in says of itself
            handle_plugin_json(*state, conn_id, outbox, std::move(message));
            break;
        }
      }
      if (text.capacity() > kKeptReadBuffer) std::string().swap(text);
    }
  }

  // The end of the connection, whatever ended it: queued texts are dropped and later
  // pushes fail, the registry forgets the connection and fails its calls, and the socket
  // is released. Runs exactly once, from the guard in run_plugin_connection.
  void finish() noexcept {
    outbox->close();
    try {
      end_plugin_connection(*state, conn_id);
    } catch (...) {
      // Only logging can throw here (out of memory); the registry is already updated.
    }
    beast::error_code ignored;
    auto& socket = beast::get_lowest_layer(ws).socket();
    socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
  }
};

struct FinishGuard {
  PluginSession& session;
  ~FinishGuard() { session.finish(); }
};

}  // namespace

asio::awaitable<void> run_plugin_connection(StatePtr state, beast::tcp_stream stream,
                                            http::request<http::string_body> request,
                                            std::optional<std::string> plugin_nonce) {
  stream.expires_never();
  auto session = std::make_shared<PluginSession>(std::move(state), std::move(stream));
  websocket::stream_base::timeout timeouts{};
  timeouts.handshake_timeout = std::chrono::seconds(30);
  timeouts.idle_timeout = websocket::stream_base::none();
  timeouts.keep_alive_pings = false;
  session->ws.set_option(timeouts);
  session->ws.read_message_max(kMaxPluginMessage);
  auto [ec] = co_await session->ws.async_accept(request, nothrow);
  if (ec) co_return;

  session->conn_id = session->state->next_conn_id++;
  FinishGuard guard{*session};
  if (!plugin_nonce) {
    co_await (contained(session->read_loop(), "reader") ||
              contained(session->write_loop(), "writer") ||
              contained(session->keep_alive(), "keep-alive"));
    co_return;
  }
  session->challenge(*plugin_nonce);
  co_await (contained(session->read_loop(), "reader") ||
            contained(session->write_loop(), "writer") ||
            contained(session->keep_alive(), "keep-alive") ||
            contained(session->handshake_deadline(), "handshake"));
}

}  // namespace cutrelay
