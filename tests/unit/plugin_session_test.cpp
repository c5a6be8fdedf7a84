// Plug-in connections run in this process over loopback: the bridge side is the real
// session (run_plugin_connection) on its own io_context thread, the plug-in side a plain
// synchronous WebSocket client whose reads give up after a few seconds, so a connection
// that fails to end fails the test instead of hanging it.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/time.h>

#include <atomic>
#include <functional>
#include <future>
#include <thread>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/use_future.hpp>
#include <boost/asio/detached.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/websocket/stream.hpp>

#include "common/async.hpp"
#include "common/crypto.hpp"
#include "server/ws_upgrade.hpp"
#include "hub/forwarding.hpp"
#include "hub/plugin_hub.hpp"

namespace cutrelay {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using namespace std::chrono_literals;

class Session : public ::testing::Test {
 public:
  asio::io_context ioc;
  // Keeps the bridge's thread running after its connection ended, for on_loop.
  asio::executor_work_guard<asio::io_context::executor_type> work = asio::make_work_guard(ioc);
  StatePtr state = std::make_shared<BridgeState>();
  std::thread runner;
  tcp::acceptor acceptor{ioc, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)};
  asio::io_context client_ctx;
  websocket::stream<tcp::socket> client{client_ctx};
  std::atomic<bool> served{false};

  void SetUp() override {
    state->ping_interval = 3600s;
    state->token = "t";
    state->port = 4242;
  }

  void TearDown() override {
    beast::error_code ignored;
    client.next_layer().close(ignored);
    // The session ends by itself once it sees the close. Stopping the context before that
    // would strand its parked writer, whose frame holds the session that holds the writer.
    if (runner.joinable()) eventually([&] { return served.load(); });
    ioc.stop();
    if (runner.joinable()) runner.join();
  }

  // Accepts one connection and runs it as the bridge does (the request's query decides
  // between the token and the challenge); then connects the client to `target`.
  void open(const std::string& target = "/ws?token=t") {
    // Everything the coroutine uses comes in as a parameter: a lambda's captures die with
    // the lambda, before the coroutine runs.
    auto serve = [](StatePtr s, tcp::acceptor& acc, std::atomic<bool>& done) -> asio::awaitable<void> {
      auto socket = co_await acc.async_accept(asio::make_strand(acc.get_executor()),
                                              asio::use_awaitable);
      beast::tcp_stream stream(std::move(socket));
      beast::flat_buffer buffer;
      http::request<http::string_body> request;
      co_await http::async_read(stream, buffer, request, asio::use_awaitable);
      const std::string query(request.target().substr(request.target().find('?') + 1));
      co_await run_plugin_connection(s, std::move(stream), std::move(request),
                                     challenge_nonce(query));
      done = true;
    };
    spawn_logged(acceptor.get_executor(), serve(state, acceptor, served));
    runner = std::thread([this] { ioc.run(); });
    client.next_layer().connect(acceptor.local_endpoint());
    timeval limit{5, 0};
    ::setsockopt(client.next_layer().native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit,
                 sizeof limit);
    client.handshake("127.0.0.1", target);
  }

  void send(const json& message) { client.write(asio::buffer(message.dump())); }

  // The next message, or null when the connection ended (or nothing came for 5 s).
  json receive() {
    beast::flat_buffer buffer;
    beast::error_code ec;
    client.read(buffer, ec);
    if (ec) return nullptr;
    return json::parse(beast::buffers_to_string(buffer.data()), nullptr, false);
  }

  // Runs `f` on the bridge's thread and returns what it returns: the bridge's state is
  // only ever touched there.
  template <typename F>
  auto on_loop(F f) {
    auto task = std::make_shared<std::packaged_task<decltype(f())()>>(std::move(f));
    auto result = task->get_future();
    asio::post(ioc, [task] { (*task)(); });
    return result.get();
  }
  bool connected(PluginRuntime runtime) {
    return on_loop([&] { return is_connected(*state, runtime); });
  }
  std::shared_ptr<Outbox> outbox_of(PluginRuntime runtime) {
    return on_loop([&] { return state->registry.lookup(runtime)->first; });
  }

  // Waits (bounded) until the bridge side sees `done`.
  template <typename Pred>
  bool eventually(Pred done) {
    for (int i = 0; i < 500; ++i) {
      if (done()) return true;
      std::this_thread::sleep_for(10ms);
    }
    return done();
  }
};

TEST_F(Session, KeepAlivePingsAtTheSessionsInterval) {
  state->ping_interval = 20ms;
  open();
  send({{"type", "hello"}, {"runtime", "uxp"}});
  EXPECT_EQ(receive().at("type"), "welcome");
  EXPECT_EQ(receive(), (json{{"type", "ping"}}));
  EXPECT_EQ(receive(), (json{{"type", "ping"}}));
}

TEST_F(Session, WriterStoppingEndsTheConnectionAndItsCalls) {
  open();
  send({{"type", "hello"}, {"runtime", "uxp"}});
  ASSERT_EQ(receive().at("type"), "welcome");
  // A call waits on the connection, then its writer stops (as after a failed send).
  auto call = asio::co_spawn(
      asio::make_strand(ioc),
      call_plugin(state, PluginRuntime::Uxp, "ping", json::object(), 3600s), asio::use_future);
  ASSERT_EQ(receive().at("verb"), "ping");
  on_loop([&] { state->registry.lookup(PluginRuntime::Uxp)->first->close(); });
  ASSERT_EQ(call.wait_for(10s), std::future_status::ready);
  const CallOutcome outcome = call.get();
  ASSERT_TRUE(std::holds_alternative<CallError>(outcome));
  EXPECT_EQ(std::get<CallError>(outcome).kind, CallError::Disconnected);
  EXPECT_FALSE(connected(PluginRuntime::Uxp));
  EXPECT_EQ(receive(), nullptr);  // the socket is released
}

// Texts queued together leave as one batch; each must still arrive whole and in order,
// a large text in the middle included (it is sent on its own).
TEST_F(Session, TextsQueuedTogetherArriveWholeAndInOrder) {
  open();
  send({{"type", "hello"}, {"runtime", "uxp"}});
  ASSERT_EQ(receive().at("type"), "welcome");
  auto outbox = outbox_of(PluginRuntime::Uxp);
  const std::string big(100 * 1024, 'x');
  std::vector<json> sent;
  for (int i = 0; i < 40; ++i) {
    json text = {{"n", i}};
    if (i == 17) text["pad"] = big;
    sent.push_back(text);
  }
  // Queued from one handler on the session's only thread, so the writer finds them all
  // at once.
  std::promise<bool> queued;
  asio::post(ioc, [&] {
    bool all = true;
    for (const json& text : sent) all = outbox->push(text.dump()) && all;
    queued.set_value(all);
  });
  ASSERT_TRUE(queued.get_future().get());
  for (const json& expected : sent) ASSERT_EQ(receive(), expected);
  // The connection still works after the batch: a call goes out and its result comes back.
  auto call = asio::co_spawn(ioc, call_plugin(state, PluginRuntime::Uxp, "ping", json::object(), 3600s),
                             asio::use_future);
  const json request = receive();
  ASSERT_EQ(request.at("verb"), "ping");
  send({{"type", "result"}, {"id", request.at("id")}, {"ok", true}, {"result", {{"pong", true}}}});
  ASSERT_EQ(call.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(std::holds_alternative<json>(call.get()));
}

// The plug-in's pings are answered by the WebSocket layer's own pong, which must never land
// inside a frame of a batch, even while that batch waits for a slow reader.
TEST_F(Session, PingsWhileBatchesWaitForTheReaderNeverBreakAFrame) {
  open();
  send({{"type", "hello"}, {"runtime", "uxp"}});
  ASSERT_EQ(receive().at("type"), "welcome");
  auto outbox = outbox_of(PluginRuntime::Uxp);
  // Far more than the socket buffers hold, queued at once so that they leave in batches
  // and the writer soon waits on a full socket.
  const std::string pad(12 * 1024, 'p');
  constexpr int kTexts = 1500;
  std::promise<void> queued;
  asio::post(ioc, [&] {
    for (int i = 0; i < kTexts; ++i) outbox->push(json{{"n", i}, {"pad", pad}}.dump());
    queued.set_value();
  });
  queued.get_future().get();
  for (int i = 0; i < 20; ++i) client.ping({});
  for (int i = 0; i < kTexts; ++i) {
    if (i % 5 == 0) client.ping({});
    const json message = receive();
    ASSERT_TRUE(message.is_object()) << "the stream broke after " << i << " texts";
    ASSERT_EQ(message.at("n"), i);
  }
}

TEST_F(Session, PeerClosingUnregistersAtOnce) {
  open();
  send({{"type", "hello"}, {"runtime", "cep"}});
  ASSERT_EQ(receive().at("type"), "welcome");
  EXPECT_TRUE(connected(PluginRuntime::Cep));
  client.close(websocket::close_code::normal);
  EXPECT_TRUE(eventually([&] { return !connected(PluginRuntime::Cep); }));
}

// The plug-ins' challenge (hub/handshake.hpp), worked out here from its description.
constexpr std::string_view kPluginNonce =
    "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

std::string proof_over(std::string_view label, std::string_view first, std::string_view second) {
  return hmac_sha256_hex("t", std::string(label) + "\n4242\n" + std::string(first) + "\n" +
                                  std::string(second));
}

TEST_F(Session, ChallengedConnectionCountsOnlyOnceItsProofChecksOut) {
  open("/ws?nonce=" + std::string(kPluginNonce));
  const json challenge = receive();
  ASSERT_EQ(challenge.at("type"), "challenge") << challenge;
  const std::string bridge_nonce = challenge.at("nonce");
  EXPECT_EQ(bridge_nonce.size(), 64u);
  EXPECT_EQ(challenge.at("proof"), proof_over("quor-bridge-proof", kPluginNonce, bridge_nonce));
  // Not a plug-in yet: a call finds nobody to go to, and a pong changes nothing.
  send({{"type", "pong"}});
  auto early = asio::co_spawn(ioc, call_plugin(state, PluginRuntime::Uxp, "eval", json::object(), 5s),
                              asio::use_future);
  ASSERT_EQ(early.wait_for(10s), std::future_status::ready);
  const CallOutcome refused = early.get();
  ASSERT_TRUE(std::holds_alternative<CallError>(refused));
  EXPECT_EQ(std::get<CallError>(refused).kind, CallError::NotConnected);

  send({{"type", "hello"}, {"runtime", "uxp"}, {"project", "P"},
        {"proof", proof_over("quor-plugin-proof", bridge_nonce, kPluginNonce)}});
  EXPECT_EQ(receive().at("type"), "welcome");
  const auto record = on_loop([&] { return plugin_record(*state, PluginRuntime::Uxp); });
  ASSERT_TRUE(record);
  EXPECT_EQ(record->first, (json{{"type", "hello"}, {"runtime", "uxp"}, {"project", "P"}}))
      << "the spent proof is not kept";
  // From here on it is a plug-in like any other.
  auto call = asio::co_spawn(ioc, call_plugin(state, PluginRuntime::Uxp, "ping", json::object(), 30s),
                             asio::use_future);
  const json request = receive();
  ASSERT_EQ(request.at("verb"), "ping");
  send({{"type", "result"}, {"id", request.at("id")}, {"ok", true}});
  ASSERT_EQ(call.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(std::holds_alternative<json>(call.get()));
}

// Dials with a nonce, answers the challenge with what `reply` makes of it, and tells
// whether the bridge then closed the connection without registering anything.
bool refused(Session& session, const std::function<json(const json& challenge)>& reply) {
  session.open("/ws?nonce=" + std::string(kPluginNonce));
  const json challenge = session.receive();
  if (!challenge.is_object() || challenge.value("type", "") != "challenge") return false;
  session.send(reply(challenge));
  return session.receive() == nullptr && !session.connected(PluginRuntime::Uxp);
}

TEST_F(Session, ProofMadeWithAnotherTokenIsRefused) {
  EXPECT_TRUE(refused(*this, [](const json& challenge) {
    return json{{"type", "hello"}, {"runtime", "uxp"},
                {"proof", hmac_sha256_hex("not-t", "quor-plugin-proof\n4242\n" +
                                                       challenge.at("nonce").get<std::string>() +
                                                       "\n" + std::string(kPluginNonce))}};
  }));
}

TEST_F(Session, BridgesOwnProofSentBackIsRefused) {
  EXPECT_TRUE(refused(*this, [](const json& challenge) {
    return json{{"type", "hello"}, {"runtime", "uxp"}, {"proof", challenge.at("proof")}};
  }));
}

TEST_F(Session, AnythingButTheHelloFirstIsRefused) {
  EXPECT_TRUE(refused(*this, [](const json& challenge) {
    return json{{"type", "result"}, {"id", 1}, {"ok", true},
                {"proof", proof_over("quor-plugin-proof", challenge.at("nonce").get<std::string>(),
                                     kPluginNonce)}};
  }));
}

TEST_F(Session, ChallengedConnectionThatStaysSilentIsClosedAfterTheHandshakeTimeOut) {
  state->handshake_timeout = 50ms;
  open("/ws?nonce=" + std::string(kPluginNonce));
  EXPECT_EQ(receive().at("type"), "challenge");
  EXPECT_EQ(receive(), nullptr);
  EXPECT_FALSE(connected(PluginRuntime::Uxp));
}

// A hello that replaces another connection's record ends that connection; its calls are
// left to their time-out, since a plug-in that reconnected may still answer them by id.
TEST_F(Session, ReplacedConnectionIsClosed) {
  open();
  send({{"type", "hello"}, {"runtime", "uxp"}});
  ASSERT_EQ(receive().at("type"), "welcome");
  auto newer = std::make_shared<Outbox>(ioc.get_executor());
  asio::post(ioc, [&] { handle_plugin_message(*state, 99, newer, R"({"type":"hello","runtime":"uxp"})"); });
  EXPECT_EQ(receive(), nullptr) << "the replaced connection is closed";
  EXPECT_TRUE(eventually([&] { return served.load(); }));
  EXPECT_EQ(on_loop([&] { return state->registry.lookup(PluginRuntime::Uxp)->second; }), 99u)
      << "the newer one stays";
}

// A connection task that throws must end the race like one that returns; a throwing
// reader used to leave the writer and keep-alive running and skip the clean-up.
TEST(ContainedTask, ThrowingBranchEndsTheRace) {
  using namespace asio::experimental::awaitable_operators;
  asio::io_context ioc;
  auto throws = []() -> asio::awaitable<void> {
    co_await asio::post(co_await asio::this_coro::executor, asio::use_awaitable);
    throw std::runtime_error("boom");
  };
  auto forever = []() -> asio::awaitable<void> {
    asio::steady_timer timer(co_await asio::this_coro::executor, std::chrono::hours(1));
    co_await timer.async_wait(nothrow);
  };
  bool ended = false;
  asio::co_spawn(
      ioc,
      [&]() -> asio::awaitable<void> {
        co_await (contained(throws(), "reader") || contained(forever(), "keep-alive"));
        ended = true;
      },
      asio::detached);
  ioc.run_for(5s);
  EXPECT_TRUE(ended);
}

}  // namespace
}  // namespace cutrelay
