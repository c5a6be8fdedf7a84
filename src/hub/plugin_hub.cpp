#include "hub/plugin_hub.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/http/field.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <boost/url/parse_query.hpp>

#include "catalog/catalog.hpp"
#include "common/args.hpp"
#include "hub/event_feed.hpp"
#include "common/log.hpp"
#include "common/async.hpp"
#include "common/text.hpp"

namespace cutrelay {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;

namespace {


// Whether a comma-separated header value lists `token` (ASCII case ignored).
bool header_lists(std::string_view value, std::string_view token) {
  while (!value.empty()) {
    const std::size_t comma = value.find(',');
    const std::string_view item = trim(value.substr(0, comma));
    value = comma == std::string_view::npos ? std::string_view{} : value.substr(comma + 1);
    if (beast::iequals(item, token)) return true;
  }
  return false;
}

}  // namespace

QueryDecode decode_query(std::string_view query) {
  QueryDecode out;
  auto parsed = boost::urls::parse_query(query);
  if (!parsed) {
    out.error = parsed.error().message();
    return out;
  }
  boost::urls::encoding_opts opts;
  opts.space_as_plus = true;
  for (const auto& param : *parsed) {
    std::string key = param.key.decode(opts);
    std::string value = param.has_value ? param.value.decode(opts) : std::string();
    out.params[std::move(key)] = std::move(value);
  }
  return out;
}

bool constant_time_equal(std::string_view a, std::string_view b) {
  // The length of the expected token is no secret; the bytes are.
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    diff |= static_cast<unsigned char>(a[i]) ^ static_cast<unsigned char>(b[i]);
  }
  return diff == 0;
}

std::optional<UpgradeRefusal> check_upgrade(const http::request<http::string_body>& request,
                                            std::string_view query, std::string_view token) {
  QueryDecode decoded = decode_query(query);
  if (decoded.error) {
    return UpgradeRefusal{400, "Failed to deserialize query string: " + *decoded.error};
  }
  if (request.method() != http::verb::get) {
    return UpgradeRefusal{405, "Request method must be `GET`"};
  }
  if (!header_lists(request[http::field::connection], "upgrade")) {
    return UpgradeRefusal{400, "Connection header did not include 'upgrade'"};
  }
  if (!header_lists(request[http::field::upgrade], "websocket")) {
    return UpgradeRefusal{400, "`Upgrade` header did not include 'websocket'"};
  }
  if (request[http::field::sec_websocket_version] != "13") {
    return UpgradeRefusal{400, "`Sec-WebSocket-Version` header did not include '13'"};
  }
  if (request.find(http::field::sec_websocket_key) == request.end()) {
    return UpgradeRefusal{400, "`Sec-WebSocket-Key` header missing"};
  }
  if (request.version() != 11) {
    // Only an HTTP/1.1 connection can be switched to another protocol.
    return UpgradeRefusal{
        426, "WebSocket request couldn't be upgraded since no upgrade state was present"};
  }
  const auto it = decoded.params.find("token");
  if (it == decoded.params.end() || !constant_time_equal(it->second, token)) {
    return UpgradeRefusal{401, "bad token"};
  }
  return std::nullopt;
}

bool is_connected(BridgeState& state, std::string_view runtime) {
  std::lock_guard lock(state.plugins.mutex);
  return state.plugins.records.contains(std::string(runtime));
}

std::optional<std::pair<json, std::uint64_t>> plugin_record(BridgeState& state,
                                                            std::string_view runtime) {
  std::lock_guard lock(state.plugins.mutex);
  const auto it = state.plugins.records.find(std::string(runtime));
  if (it == state.plugins.records.end()) return std::nullopt;
  const auto age = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() -
                                                                    it->second.connected_at);
  return std::pair{it->second.hello, static_cast<std::uint64_t>(std::max<std::int64_t>(0, age.count()))};
}

namespace {

void deliver_result(BridgeState& state, std::uint64_t id, json message) {
  std::lock_guard lock(state.pending.mutex);
  const auto it = state.pending.calls.find(id);
  if (it == state.pending.calls.end()) return;  // nobody waits (any more)
  // The slot holds one message; a caller that gave up never reads it.
  it->second.slot->try_send(boost::system::error_code{}, std::move(message));
  state.pending.calls.erase(it);
}

void register_hello(BridgeState& state, std::uint64_t conn_id,
                    const std::shared_ptr<Outbox>& outbox, json hello) {
  const auto runtime_member = hello.find("runtime");
  const bool cep = runtime_member != hello.end() && runtime_member->is_string() &&
                   runtime_member->get_ref<const std::string&>() == "cep";
  const std::string runtime = cep ? "cep" : "uxp";
  log_line("[cutrelay] " + runtime + " connected: " + dump_compact(hello));
  {
    std::lock_guard lock(state.plugins.mutex);
    state.plugins.records[runtime] = PluginRecord{
        .runtime = runtime,
        .connected_at = Clock::now(),
        .hello = std::move(hello),
        .outbox = outbox,
        .conn_id = conn_id,
    };
  }
  static const std::string welcome =
      dump_compact({{"bridgeVersion", kVersion}, {"protocol", kProtocol}, {"type", "welcome"}});
  outbox->push(welcome);
}

void apply_hello_update(BridgeState& state, std::uint64_t conn_id, const json& message) {
  const auto fields = message.find("fields");
  std::lock_guard lock(state.plugins.mutex);
  for (auto& [runtime, record] : state.plugins.records) {
    if (record.conn_id != conn_id) continue;
    if (fields != message.end() && fields->is_object() && record.hello.is_object()) {
      for (const auto& [key, value] : fields->items()) record.hello[key] = value;
    }
    return;  // one record is amended, even when the connection holds both runtimes
  }
}

}  // namespace

void handle_plugin_message(BridgeState& state, std::uint64_t conn_id,
                           const std::shared_ptr<Outbox>& outbox, std::string_view text) {
  JsonParseResult parsed = parse_json(text);
  if (!parsed.value || !parsed.value->is_object()) return;
  json& message = *parsed.value;
  const auto type_member = message.find("type");
  if (type_member == message.end() || !type_member->is_string()) return;
  const std::string type = type_member->get<std::string>();
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
    apply_hello_update(state, conn_id, message);
  }
}

std::vector<std::string> end_plugin_connection(BridgeState& state, std::uint64_t conn_id) {
  std::vector<std::string> removed;
  {
    std::lock_guard lock(state.plugins.mutex);
    for (auto it = state.plugins.records.begin(); it != state.plugins.records.end();) {
      if (it->second.conn_id == conn_id) {
        removed.push_back(it->first);
        it = state.plugins.records.erase(it);
      } else {
        ++it;
      }
    }
    for (const auto& runtime : removed) log_line("[cutrelay] " + runtime + " disconnected");
  }
  // A superseded connection's calls are left to run to their time-out: the plug-in that
  // replaced it may share the same Premiere and still answer by id.
  if (removed.empty()) return removed;
  std::lock_guard lock(state.pending.mutex);
  for (auto it = state.pending.calls.begin(); it != state.pending.calls.end();) {
    if (it->second.conn_id == conn_id) {
      it->second.slot->close();  // wakes the caller: the connection is gone
      it = state.pending.calls.erase(it);
    } else {
      ++it;
    }
  }
  return removed;
}

namespace {

struct PluginSession : std::enable_shared_from_this<PluginSession> {
  PluginSession(StatePtr s, beast::tcp_stream stream)
      : state(std::move(s)),
        ws(std::move(stream)),
        outbox(std::make_shared<Outbox>(ws.get_executor())),
        ping_timer(ws.get_executor()) {}

  StatePtr state;
  websocket::stream<beast::tcp_stream> ws;
  std::shared_ptr<Outbox> outbox;
  asio::steady_timer ping_timer;
  std::uint64_t conn_id = 0;

  asio::awaitable<void> write_loop() {
    auto self = shared_from_this();
    for (;;) {
      std::deque<std::string> texts = co_await outbox->take();
      if (texts.empty()) co_return;  // closed
      for (const std::string& text : texts) {
        ws.text(true);
        auto [ec, n] = co_await ws.async_write(asio::buffer(text), nothrow);
        if (ec) {
          outbox->close();
          co_return;
        }
      }
    }
  }

  asio::awaitable<void> keep_alive() {
    auto self = shared_from_this();
    static const std::string ping = dump_compact({{"type", "ping"}});
    for (;;) {
      ping_timer.expires_after(kPingInterval);
      auto [ec] = co_await ping_timer.async_wait(nothrow);
      if (ec || !outbox->push(ping)) co_return;
    }
  }

  asio::awaitable<void> read_loop() {
    for (;;) {
      std::string text;
      auto buffer = asio::dynamic_buffer(text, kMaxPluginMessage);
      auto [ec, n] = co_await ws.async_read(buffer, nothrow);
      if (ec) co_return;
      if (ws.got_binary()) text = to_valid_utf8(text);
      handle_plugin_message(*state, conn_id, outbox, text);
    }
  }
};

}  // namespace

asio::awaitable<void> run_plugin_connection(StatePtr state, beast::tcp_stream stream,
                                            http::request<http::string_body> request) {
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

  session->conn_id = session->state->next_conn_id.fetch_add(1);
  auto ex = co_await asio::this_coro::executor;
  spawn_logged(ex, session->write_loop());
  spawn_logged(ex, session->keep_alive());
  co_await session->read_loop();

  // The reader has ended: stop the writer and keep-alive now (queued texts are dropped),
  // unregister, fail the calls waiting on this connection, and release the socket.
  session->outbox->close();
  session->ping_timer.cancel();
  end_plugin_connection(*session->state, session->conn_id);
  beast::error_code ignored;
  beast::get_lowest_layer(session->ws).socket().shutdown(asio::ip::tcp::socket::shutdown_both,
                                                         ignored);
  beast::get_lowest_layer(session->ws).close();
}

}  // namespace cutrelay
