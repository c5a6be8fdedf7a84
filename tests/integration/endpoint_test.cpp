#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http/verb.hpp>
#include <cstdio>
#include <filesystem>
#include <future>
#include <set>
#include <thread>


#ifdef __linux__
#include <sys/resource.h>
#endif

#include "bridge_process.hpp"
#include "fake_plugin.hpp"
#include "http_client.hpp"

namespace cutrelay::testing {
namespace {

using boost::beast::http::verb;

class Endpoint : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { bridge = new BridgeProcess(); }
  static void TearDownTestSuite() {
    delete bridge;
    bridge = nullptr;
  }
  void TearDown() override {
    // Whatever a test sent, the bridge is still up and answering.
    ASSERT_TRUE(bridge->running());
    EXPECT_EQ(post_command(port(), {{"command", "premiere_describe"}}).at("success"), true);
  }
  static std::uint16_t port() { return bridge->port(); }
  static inline BridgeProcess* bridge = nullptr;
};

TEST_F(Endpoint, DescribeOnBothPathsWithOrWithoutPrefix) {
  const HttpResult a = post_json(port(), R"({"command":"premiere_describe"})", "/command");
  const HttpResult b = post_json(port(), R"({"command":"describe","args":42})", "/");
  ASSERT_EQ(a.status, 200u);
  EXPECT_EQ(a.headers.at("content-type"), "application/json");
  EXPECT_EQ(a.body, b.body);
  const json answer = json::parse(a.body);
  EXPECT_EQ(answer.at("success"), true);
  EXPECT_EQ(answer.at("verb"), "premiere_describe");
  EXPECT_EQ(answer.at("catalog").at("verbCount"), 91);
  EXPECT_EQ(a.body, answer.dump());  // compact, members sorted
}

TEST_F(Endpoint, MethodAndContentTypeChecks) {
  const HttpResult get = http_request(port(), verb::get, "/command");
  EXPECT_EQ(get.status, 405u);
  EXPECT_EQ(get.headers.at("allow"), "POST");
  EXPECT_EQ(get.body, "POST only");

  // The method is checked before the content type, and the body is ignored for both.
  const HttpResult put = http_request(port(), verb::put, "/", "{}", {{"Content-Type", "text/plain"}});
  EXPECT_EQ(put.status, 405u);

  const HttpResult text = http_request(port(), verb::post, "/command", R"({"command":"describe"})",
                                       {{"Content-Type", "text/plain"}});
  EXPECT_EQ(text.status, 415u);
  EXPECT_EQ(text.body, "Expected request with `Content-Type: application/json`");
  EXPECT_EQ(text.headers.at("content-type"), "text/plain; charset=utf-8");
  EXPECT_EQ(http_request(port(), verb::post, "/command", "{}").status, 415u);  // no header
  EXPECT_EQ(http_request(port(), verb::post, "/command", R"({"command":"describe"})",
                         {{"Content-Type", "Application/JSON; charset=utf-8"}})
                .status,
            200u);
}

TEST_F(Endpoint, BadJsonAnswersInJson) {
  const HttpResult r = post_json(port(), "{");
  EXPECT_EQ(r.status, 200u);
  const json answer = json::parse(r.body);
  EXPECT_EQ(answer.size(), 3u);  // not decorated
  EXPECT_EQ(answer.at("success"), false);
  EXPECT_EQ(answer.at("errorCode"), "bad_request");
  EXPECT_TRUE(answer.at("error").get<std::string>().starts_with("bad JSON: "));
  EXPECT_NE(answer.at("error").get<std::string>().find("column"), std::string::npos);
}

TEST_F(Endpoint, MissingOrOddCommandsAreUnknownVerbs) {
  for (const char* body : {"{}", R"({"command":5})", "[1,2]", "\"describe\"",
                                 R"({"command":"premiere_premiere_status"})",
                                 R"({"command":"PREMIERE_DESCRIBE"})"}) {
    const json answer = json::parse(post_json(port(), body).body);
    EXPECT_EQ(answer.at("errorCode"), "unknown_verb") << body;
    EXPECT_FALSE(answer.contains("verb")) << body;
  }
  EXPECT_EQ(json::parse(post_json(port(), "{}").body).at("error"), "unknown verb premiere_");
  EXPECT_EQ(json::parse(post_json(port(), R"({"command":"premiere_premiere_status"})").body).at("error"),
            "unknown verb premiere_premiere_status");
}

TEST_F(Endpoint, PathsAndRouteMethods) {
  const HttpResult missing = http_request(port(), verb::get, "/nothing");
  EXPECT_EQ(missing.status, 404u);
  EXPECT_EQ(missing.body, "");
  EXPECT_EQ(http_request(port(), verb::post, "/command/").status, 404u);
  EXPECT_EQ(http_request(port(), verb::post, "/Command").status, 404u);
  EXPECT_EQ(post_json(port(), R"({"command":"describe"})", "/command?x=1").status, 200u);
  for (const std::string path : {"/health", "/ws"}) {
    const HttpResult r = http_request(port(), verb::post, path, "x");
    EXPECT_EQ(r.status, 405u) << path;
    EXPECT_EQ(r.headers.at("allow"), "GET,HEAD");
    EXPECT_EQ(r.body, "");
  }
}

TEST_F(Endpoint, BodyLimit) {
  const std::string at_limit = "\"" + std::string(2'097'150, 'a') + "\"";
  ASSERT_EQ(at_limit.size(), 2'097'152u);
  EXPECT_EQ(json::parse(post_json(port(), at_limit).body).at("errorCode"), "unknown_verb");

  const HttpResult over = post_json(port(), at_limit + " ");
  EXPECT_EQ(over.status, 413u);
  EXPECT_EQ(over.body, "Failed to buffer the request body: length limit exceeded");

  // The limit applies before the method is looked at, and to chunked bodies too.
  EXPECT_EQ(http_request(port(), verb::get, "/command", std::string(2'097'153, 'x')).status, 413u);
  std::string chunked =
      "POST /command HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
      "Transfer-Encoding: chunked\r\n\r\n";
  for (int i = 0; i < 33; ++i) chunked += "10000\r\n" + std::string(0x10000, ' ') + "\r\n";
  chunked += "0\r\n\r\n";
  EXPECT_TRUE(raw_exchange(port(), chunked).starts_with("HTTP/1.1 413"));
}

TEST_F(Endpoint, KeepAliveServesManyRequestsOnOneConnection) {
  HttpConnection connection(port());
  for (int i = 0; i < 5; ++i) {
    const HttpResult r = connection.request(verb::post, "/command", R"({"command":"events"})",
                                            {{"Content-Type", "application/json"}});
    EXPECT_EQ(r.status, 200u);
    EXPECT_TRUE(r.keep_alive);
  }
  EXPECT_EQ(connection.request(verb::get, "/command").status, 405u);
  EXPECT_EQ(connection.request(verb::get, "/nothing").status, 404u);
  EXPECT_EQ(connection.request(verb::post, "/command", "{}", {{"Content-Type", "text/plain"}}).status,
            415u);
  EXPECT_EQ(connection.request(verb::post, "/command", "{", {{"Content-Type", "application/json"}}).status,
            200u);
}

TEST_F(Endpoint, WebPagesAreRefusedBeforeTheCommandRuns) {
  const std::string describe = R"({"command":"describe"})";
  const Headers json_type = {{"Content-Type", "application/json"}};
  auto with = [&](Headers extra) {
    Headers all = json_type;
    all.insert(all.end(), extra.begin(), extra.end());
    return http_request(port(), verb::post, "/command", describe, all);
  };
  // A rebound domain name in Host, even with a loopback origin.
  HttpResult rebound = with({{"Host", "evil.example:8787"}, {"Origin", "http://localhost"}});
  EXPECT_EQ(rebound.status, 403u);
  EXPECT_EQ(rebound.body, "Host not allowed");
  // A page of another origin, on either command path and before the method check.
  HttpResult cross = with({{"Origin", "https://evil.example"}});
  EXPECT_EQ(cross.status, 403u);
  EXPECT_EQ(cross.body, "Origin not allowed");
  EXPECT_EQ(http_request(port(), verb::get, "/", "", {{"Origin", "http://evil.example"}}).status,
            403u);
  // What agents, curl, local pages and the plug-ins send is served.
  for (const Headers& ok : {Headers{{"Host", "localhost:1"}}, Headers{{"Origin", "null"}},
                            Headers{{"Host", "[::1]:9"}, {"Origin", "http://127.0.0.1:5173"}}}) {
    EXPECT_EQ(with(ok).status, 200u) << ok.front().first << ": " << ok.front().second;
  }
  // A refused request with a body ends its connection; the next one is unaffected.
  const std::string request =
      "POST /command HTTP/1.1\r\nHost: rebind.example\r\nContent-Type: application/json\r\n"
      "Content-Length: " + std::to_string(describe.size()) + "\r\n\r\n" + describe;
  const std::string reply = raw_exchange(port(), request);
  EXPECT_TRUE(reply.starts_with("HTTP/1.1 403 Forbidden\r\n")) << reply.substr(0, 60);
  EXPECT_NE(reply.find("Host not allowed"), std::string::npos);
}

TEST_F(Endpoint, ExpectContinueIsHonoured) {
  const std::string body = R"({"command":"describe"})";
  // Header values of Expect compare without regard to case (RFC 9110).
  for (const std::string expect : {"100-continue", "100-Continue"}) {
    const std::string request = "POST /command HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                                "Expect: " + expect + "\r\nConnection: close\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\n\r\n" + body;
    const std::string reply = raw_exchange(port(), request);
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK")) << reply.substr(0, 80);
  }
}

TEST_F(Endpoint, MalformedBytesNeverGetANonJsonAnswerWhereJsonIsDue) {
  // Invalid UTF-8, control bytes and NULs inside a JSON body.
  for (const std::string& body : {std::string("{\"command\":\"\xFF\xFE\"}"), std::string("\x00\x01{", 3),
                                 std::string("{\"command\":\"describe\"}\x00", 23),
                                 std::string("{\"args\":\"\xC3\x28\"}")}) {
    const HttpResult r = post_json(port(), body);
    EXPECT_EQ(r.status, 200u);
    const json answer = json::parse(r.body);  // valid JSON and valid UTF-8
    EXPECT_EQ(answer.at("success"), false);
  }
}

TEST_F(Endpoint, DeepNestingIsRefusedNotRecursedInto) {
  const HttpResult r = post_json(port(), std::string(2'000'000, '['));
  EXPECT_EQ(json::parse(r.body).at("errorCode"), "bad_request");
  const HttpResult objects = post_json(port(), [] {
    std::string s;
    for (int i = 0; i < 100000; ++i) s += "{\"a\":";
    return s;
  }());
  EXPECT_EQ(json::parse(objects.body).at("errorCode"), "bad_request");
  // Deeply nested text inside `args` counts as unparsable args: an empty object.
  const json nested_args = {{"command", "events"}, {"args", std::string(100000, '[')}};
  EXPECT_EQ(post_command(port(), nested_args).at("success"), true);
}

TEST_F(Endpoint, GarbageRequestsGetA400AndOthersCarryOn) {
  EXPECT_TRUE(raw_exchange(port(), "GARBAGE\r\n\r\n").starts_with("HTTP/1.1 400"));
  EXPECT_TRUE(raw_exchange(port(), "POST /command HTTP/1.1\r\nContent-Length: -5\r\n\r\n").starts_with("HTTP/1.1 400"));
  EXPECT_TRUE(raw_exchange(port(), std::string("\0\0\0\0\r\n\r\n", 8)).starts_with("HTTP/1.1 400"));
  std::string huge_header = "GET / HTTP/1.1\r\nX: " + std::string(200000, 'h') + "\r\n\r\n";
  EXPECT_TRUE(raw_exchange(port(), huge_header).starts_with("HTTP/1.1 400"));
  // A request cut off in its body: the connection ends, nothing else does.
  raw_exchange(port(), "POST /command HTTP/1.1\r\nContent-Type: application/json\r\nContent-Length: 1000\r\n\r\n{",
               std::chrono::milliseconds(200), true);
}

// A body may come with its header, after it, or be followed at once by the next request;
// each request still gets exactly its own answer.
TEST_F(Endpoint, BodiesWithOrAfterTheHeaderAndPipelinedRequests) {
  const auto post = [](const std::string& verb, const std::string& extra = {}) {
    const std::string body = R"({"command":")" + verb + R"("})";
    return "POST /command HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n" +
           extra + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  };
  const std::string tail = R"(mand":"premiere_plugin_info"})";
  char size[8];
  std::snprintf(size, sizeof size, "%zx", tail.size());
  const std::string chunked =
      "POST /command HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
      "Transfer-Encoding: chunked\r\n\r\n5\r\n{\"com\r\n" + std::string(size) + "\r\n" + tail +
      "\r\n0\r\n\r\n";
  // Three requests in one write: the answers come in order, one per request.
  const std::string replies = raw_exchange(
      port(), post("premiere_events") + chunked + post("premiere_nope", "Connection: close\r\n"));
  const std::size_t first = replies.find("premiere_events");
  const std::size_t second = replies.find("premiere_plugin_info");
  const std::size_t third = replies.find("unknown verb premiere_nope");
  ASSERT_NE(first, std::string::npos) << replies.substr(0, 200);
  ASSERT_NE(second, std::string::npos) << replies.substr(0, 200);
  ASSERT_NE(third, std::string::npos) << replies.substr(0, 200);
  EXPECT_LT(first, second);
  EXPECT_LT(second, third);

  // The header first, the body a moment later.
  boost::asio::io_context ioc;
  boost::asio::ip::tcp::socket socket(ioc);
  socket.connect({boost::asio::ip::make_address("127.0.0.1"), port()});
  const std::string request = post("premiere_events", "Connection: close\r\n");
  const std::size_t split = request.find("\r\n\r\n") + 4;
  boost::asio::write(socket, boost::asio::buffer(request.substr(0, split + 3)));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  boost::asio::write(socket, boost::asio::buffer(request.substr(split + 3)));
  std::string reply;
  boost::system::error_code ec;
  boost::asio::read(socket, boost::asio::dynamic_buffer(reply), ec);
  EXPECT_TRUE(reply.starts_with("HTTP/1.1 200 OK")) << reply.substr(0, 60);
  EXPECT_NE(reply.find(R"("verb":"premiere_events")"), std::string::npos) << reply;
}

// A client that stops sending while its command waits is taken to have gone, as it
// usually has (a program killed, a request given up): its connection is closed at once
// instead of being held until the command's time-out. (A client that only half-closes
// its side is indistinguishable, and is treated alike.)
TEST_F(Endpoint, ClientThatLeavesWhileItsCommandWaitsIsLetGo) {
  boost::asio::io_context ioc;
  boost::asio::ip::tcp::socket socket(ioc);
  socket.connect({boost::asio::ip::make_address("127.0.0.1"), port()});
  // Were the client kept waiting, the answer would come after these 20 s.
  const std::string body = R"({"command":"wait_for_plugin","args":{"timeoutSec":20}})";
  const std::string request =
      "POST /command HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: " +
      std::to_string(body.size()) + "\r\n\r\n" + body;
  boost::asio::write(socket, boost::asio::buffer(request));
  socket.shutdown(boost::asio::ip::tcp::socket::shutdown_send);
  char byte = 0;
  boost::system::error_code ec;
  const std::size_t n = socket.read_some(boost::asio::buffer(&byte, 1), ec);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(ec, boost::asio::error::eof) << "the bridge closed the connection: " << ec.message();
}

TEST_F(Endpoint, SlowClientsDoNotHoldUpOthers) {
  // Ten connections that send half a request and then nothing.
  std::vector<std::future<std::string>> stalled;
  for (int i = 0; i < 10; ++i) {
    stalled.push_back(std::async(std::launch::async, [] {
      return raw_exchange(port(), "POST /command HTTP/1.1\r\nContent-Length: 50\r\n\r\n{\"com",
                          std::chrono::milliseconds(4000));
    }));
  }
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(post_command(port(), {{"command", "events"}}).at("success"), true);
  }
  for (auto& f : stalled) f.get();
}

TEST_F(Endpoint, CommandsOnTwoConnectionsRunAtTheSameTime) {
  // One command waits for a plug-in; others are answered meanwhile, and the waiting one
  // ends only when the plug-in comes, so no clock decides the outcome.
  auto waiting = std::async(std::launch::async, [] {
    return post_command(port(), {{"command", "wait_for_plugin"}, {"args", {{"timeoutSec", 600}}}});
  });
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(post_command(port(), {{"command", "events"}}).at("success"), true);
  }
  EXPECT_EQ(waiting.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
  FakePlugin plugin(port(), bridge->token());
  EXPECT_EQ(waiting.get().at("connected"), true);
}

// /health names the open project, so web pages (a rebound name, another machine's address
// in Host, a foreign Origin) may not read it any more than they may send commands.
TEST_F(Endpoint, HealthAndCommandsAnswerLoopbackHostsOnly) {
  for (const char* host : {"10.1.2.3", "10.1.2.3:80", "evil.example", "[::2]"}) {
    EXPECT_EQ(http_request(port(), verb::get, "/health", {}, {{"Host", host}}).status, 403u) << host;
    EXPECT_EQ(http_request(port(), verb::post, "/command", R"({"command":"describe"})",
                           {{"Host", host}, {"Content-Type", "application/json"}})
                  .status,
              403u)
        << host;
  }
  EXPECT_EQ(http_request(port(), verb::get, "/health", {}, {{"Origin", "http://evil.example"}}).status, 403u);
  for (const char* host : {"127.0.0.1", "localhost:1", "[::1]:80"}) {
    EXPECT_EQ(http_request(port(), verb::get, "/health", {}, {{"Host", host}}).status, 200u) << host;
  }
}

// By default any local process may run commands. With the opt-in, /command, / and /mcp
// want "Authorization: Bearer <token>"; /health and the plug-ins' /ws are as before.
TEST(AgentToken, RequiredWhenAskedForByVariableOrSwitch) {
  const std::vector<BridgeOptions> variants = {
      BridgeOptions{.env = {{"QUOR_REQUIRE_AGENT_TOKEN", "1"}}},
      BridgeOptions{.args = {"--require-agent-token"}},
  };
  for (const BridgeOptions& options : variants) {
    BridgeProcess own(options);
    const std::string token = own.token();
    const Headers json_type = {{"Content-Type", "application/json"}};
    const auto post = [&](const std::string& target, Headers headers) {
      headers.insert(headers.end(), json_type.begin(), json_type.end());
      return http_request(own.port(), verb::post, target, R"({"command":"describe"})", headers);
    };
    for (const std::string target : {"/command", "/", "/mcp"}) {
      const HttpResult missing = post(target, {});
      EXPECT_EQ(missing.status, 401u) << target;
      EXPECT_EQ(missing.headers.count("www-authenticate") ? missing.headers.at("www-authenticate") : "", "Bearer") << target;
      EXPECT_EQ(post(target, {{"Authorization", "Bearer " + token + "x"}}).status, 401u) << target;
      EXPECT_EQ(post(target, {{"Authorization", token}}).status, 401u) << target;
      EXPECT_EQ(post(target, {{"Authorization", "Basic " + token}}).status, 401u) << target;
    }
    EXPECT_EQ(post("/command", {{"Authorization", "Bearer " + token}}).status, 200u);
    EXPECT_EQ(post("/command", {{"Authorization", "bearer " + token}}).status, 200u);
    EXPECT_NE(post("/mcp", {{"Authorization", "Bearer " + token}}).status, 401u);
    EXPECT_EQ(http_request(own.port(), verb::get, "/health").status, 200u);
    FakePlugin plugin(own.port(), token);
    EXPECT_TRUE(plugin.wait_welcome());
  }
  BridgeProcess open_by_default(BridgeOptions{.env = {{"QUOR_REQUIRE_AGENT_TOKEN", std::nullopt}}});
  EXPECT_EQ(post_command(open_by_default.port(), {{"command", "describe"}}).at("success"), true);
}

#ifdef __linux__
std::set<long> open_descriptors(int pid) {
  std::set<long> fds;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    fds.insert(std::stol(entry.path().filename().string()));
  }
  return fds;
}

// Sets a running bridge's soft descriptor limit to about `room` more than it holds now,
// as a machine with a low default (macOS: 256) would have it; returns its limits before.
// (New descriptors take the lowest free numbers, so ones inherited far above the limit
// do not matter.)
rlimit squeeze_descriptors(int pid, rlim_t room) {
  rlimit before{};
  EXPECT_EQ(::prlimit(pid, RLIMIT_NOFILE, nullptr, &before), 0);
  const rlimit tight{static_cast<rlim_t>(open_descriptors(pid).size()) + room, before.rlim_max};
  EXPECT_EQ(::prlimit(pid, RLIMIT_NOFILE, &tight, nullptr), 0);
  return before;
}

// A low soft limit at start-up is raised towards the hard one.
TEST(Listener, RaisesTheSoftDescriptorLimitAtStart) {
  rlimit mine{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &mine), 0);
  if (mine.rlim_max != RLIM_INFINITY && mine.rlim_max <= 256) GTEST_SKIP() << "the hard limit is 256 here";
  const rlimit low{256, mine.rlim_max};
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  BridgeProcess own;  // inherits the low limit
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &mine), 0);
  rlimit theirs{};
  ASSERT_EQ(::prlimit(own.pid(), RLIMIT_NOFILE, nullptr, &theirs), 0);
  const rlim_t expected = mine.rlim_max == RLIM_INFINITY ? 65536 : std::min<rlim_t>(mine.rlim_max, 65536);
  EXPECT_EQ(theirs.rlim_cur, expected);
}

// 300 clients give up on calls that would wait up to an hour. Each must free its socket at
// once (no CLOSE-WAIT until the time-out), so that a limit of a few hundred descriptors
// never runs out: /health, new commands and the plug-in's reconnection still get in.
TEST(Listener, AbandonedCallsFreeTheirSocketsAtOnce) {
  BridgeProcess own;
  auto plugin = std::make_unique<FakePlugin>(own.port(), own.token());
  ASSERT_TRUE(plugin->wait_welcome());
  plugin->set_handler([](const json&) { return FakePlugin::Reply{}; });  // never answers
  const std::size_t baseline = open_descriptors(own.pid()).size();
  const rlimit before = squeeze_descriptors(own.pid(), 150);
  const std::string body = R"({"command":"premiere_get_sequence","args":{"timeoutSec":3600}})";
  const std::string request = "POST /command HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                              "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  for (int i = 0; i < 300; ++i) {
    {
      boost::asio::io_context ioc;
      boost::asio::ip::tcp::socket socket(ioc);
      socket.connect({boost::asio::ip::make_address("127.0.0.1"), own.port()});
      boost::asio::write(socket, boost::asio::buffer(request));
      ASSERT_TRUE(plugin->wait_until([&] { return plugin->calls().size() == static_cast<std::size_t>(i) + 1; }))
          << "call " << i << " never reached the plug-in; " << own.stderr_text();
    }  // the client gives up
  }
  // The sockets go as their clients do, not an hour later.
  const bool freed = plugin->wait_until([&] { return open_descriptors(own.pid()).size() <= baseline + 5; });
  EXPECT_TRUE(freed) << open_descriptors(own.pid()).size() << " descriptors open, " << baseline << " before";
  EXPECT_EQ(http_request(own.port(), verb::get, "/health", {}, {}, std::chrono::seconds(10)).status, 200u);
  // Late answers of abandoned calls are dropped; the plug-in reconnects and is served.
  for (const json& call : plugin->calls()) plugin->send_json(FakePlugin::ok(call, {}).message.value());
  plugin.reset();
  FakePlugin again(own.port(), own.token());
  EXPECT_TRUE(again.wait_welcome());
  EXPECT_EQ(own.command("premiere_ping").at("success"), true);
  EXPECT_EQ(own.stderr_text().find("accept failed"), std::string::npos) << own.stderr_text();
  ::prlimit(own.pid(), RLIMIT_NOFILE, &before, nullptr);
}

// Agents that open connections and leave them idle can fill only what the descriptor limit
// leaves after a reserve: past that, commands are refused with 503 at once, and /health and
// the plug-ins still get in.
TEST(Listener, IdleConnectionsLeaveRoomForHealthAndThePlugins) {
  BridgeProcess own;
  const rlimit before = squeeze_descriptors(own.pid(), 150);
  std::vector<std::unique_ptr<HttpConnection>> idle;
  int served = 0;
  int refused = 0;
  for (int i = 0; i < 250; ++i) {
    auto connection = std::make_unique<HttpConnection>(own.port(), std::chrono::seconds(10));
    const HttpResult result =
        connection->request(verb::post, "/command", R"({"command":"describe"})",
                            {{"Content-Type", "application/json"}});
    ASSERT_TRUE(result.status == 200 || result.status == 503) << i << ": " << result.status;
    if (result.status == 503) {
      ++refused;
      EXPECT_FALSE(result.keep_alive);
      continue;  // closed, as the answer asks
    }
    ++served;
    idle.push_back(std::move(connection));  // kept open and idle
  }
  EXPECT_GT(served, 0);
  EXPECT_GT(refused, 0);
  EXPECT_EQ(http_request(own.port(), verb::get, "/health", {}, {}, std::chrono::seconds(10)).status, 200u);
  FakePlugin plugin(own.port(), own.token());
  EXPECT_TRUE(plugin.wait_welcome());
  EXPECT_EQ(own.stderr_text().find("accept failed"), std::string::npos) << own.stderr_text();
  idle.clear();  // once they are closed, commands are served again
  EXPECT_TRUE(plugin.wait_until([&] {
    return http_request(own.port(), verb::post, "/command", R"({"command":"describe"})",
                        {{"Content-Type", "application/json"}}).status == 200;
  }));
  ::prlimit(own.pid(), RLIMIT_NOFILE, &before, nullptr);
}

// Running out of descriptors makes accept fail. The bridge must wait and accept again once
// descriptors are free, never stop serving.
TEST(Listener, RunningOutOfDescriptorsIsWaitedOut) {
  BridgeProcess own;
  // The soft limit bounds descriptor numbers, and the bridge may hold inherited ones far
  // above its own, so the limit is set where exactly two numbers below it are free.
  std::set<long> open_fds;
  for (const auto& entry :
       std::filesystem::directory_iterator("/proc/" + std::to_string(own.pid()) + "/fd")) {
    open_fds.insert(std::stol(entry.path().filename().string()));
  }
  rlim_t limit = 0;
  for (int free_below = 0; free_below < 2; ++limit) {
    if (!open_fds.contains(static_cast<long>(limit))) ++free_below;
  }
  rlimit before{};
  ASSERT_EQ(::prlimit(own.pid(), RLIMIT_NOFILE, nullptr, &before), 0);
  const rlimit tight{limit, before.rlim_max};
  ASSERT_EQ(::prlimit(own.pid(), RLIMIT_NOFILE, &tight, nullptr), 0);
  {
    // The kernel completes every connection; the bridge can take a few (a descriptor it
    // held for a moment at the count may have been closed since), then accept fails.
    std::vector<std::unique_ptr<HttpConnection>> held;
    bool failed = false;
    for (int i = 0; i < 32 && !failed; ++i) {
      held.push_back(std::make_unique<HttpConnection>(own.port()));
      failed = own.wait_for_stderr("accept failed", std::chrono::milliseconds(i < 2 ? 50 : 500));
    }
    ASSERT_TRUE(failed) << own.stderr_text();
    EXPECT_TRUE(own.running());
  }  // closed: the bridge's descriptors come free
  ASSERT_EQ(::prlimit(own.pid(), RLIMIT_NOFILE, &before, nullptr), 0);
  EXPECT_EQ(post_command(own.port(), {{"command", "premiere_describe"}}).at("success"), true);
  EXPECT_TRUE(own.running());
}
#endif

}  // namespace
}  // namespace cutrelay::testing
