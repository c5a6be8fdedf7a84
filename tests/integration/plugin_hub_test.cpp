#include <gtest/gtest.h>

#include <boost/beast/http/verb.hpp>

#include "bridge_process.hpp"
#include "fake_plugin.hpp"
#include "http_client.hpp"

namespace cutrelay::testing {
namespace {

using boost::beast::http::verb;
using namespace std::chrono_literals;

const Headers kUpgrade = {{"Connection", "Upgrade"},
                          {"Upgrade", "websocket"},
                          {"Sec-WebSocket-Version", "13"},
                          {"Sec-WebSocket-Key", "dGhlIHNhbXBsZSBub25jZQ=="}};

// The hello the bridge stored for the UXP plug-in (empty when none).
json stored_uxp_hello(const BridgeProcess& bridge) {
  const json answer = bridge.command("wait_for_plugin", {{"timeoutSec", 1}});
  return answer.value("plugin", json());
}

TEST(PluginUpgrade, TokenIsCheckedOnlyForValidUpgrades) {
  BridgeProcess bridge;
  const std::string token = bridge.token();
  std::string wrong = token;
  wrong[5] = wrong[5] == 'a' ? 'b' : 'a';
  std::string upper = token;
  for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

  for (const std::string& target : {std::string("/ws"), "/ws?token=" + wrong, "/ws?token=" + upper,
                                    "/ws?token=" + token + "x", "/ws?tok=" + token}) {
    const HttpResult r = http_request(bridge.port(), verb::get, target, {}, kUpgrade);
    EXPECT_EQ(r.status, 401u) << target;
    EXPECT_EQ(r.body, "bad token");
  }
  const HttpResult plain = http_request(bridge.port(), verb::get, "/ws?token=" + token);
  EXPECT_EQ(plain.status, 400u);
  EXPECT_EQ(plain.body, "Connection header did not include 'upgrade'");
  const HttpResult head = http_request(bridge.port(), verb::head, "/ws?token=" + token, {}, kUpgrade);
  EXPECT_EQ(head.status, 405u);
  const HttpResult bad_query = http_request(bridge.port(), verb::get, "/ws?token=%G1", {}, kUpgrade);
  EXPECT_EQ(bad_query.status, 400u);
  EXPECT_TRUE(bad_query.body.starts_with("Failed to deserialize query string: "));
  // Refusals are plain HTTP answers; the connection can go on.
  HttpConnection connection(bridge.port());
  EXPECT_EQ(connection.request(verb::get, "/ws", {}, kUpgrade).status, 401u);
  EXPECT_EQ(connection.request(verb::get, "/nothing").status, 404u);
  EXPECT_TRUE(bridge.running());
}

TEST(PluginHello, FiledWelcomedAndLogged) {
  BridgeProcess bridge;
  FakePlugin plugin(bridge.port(), bridge.token(),
                    {.runtime = "uxp", .hello = {{"pluginVersion", "0.1.0"}, {"project", "P"}}});
  ASSERT_TRUE(plugin.wait_welcome());
  EXPECT_EQ(plugin.messages().front(),
            (json{{"bridgeVersion", "0.1.0"}, {"protocol", 1}, {"type", "welcome"}}));
  ASSERT_TRUE(bridge.wait_for_stderr("[cutrelay] uxp connected: ", 5s));
  EXPECT_NE(bridge.stderr_text().find(
                R"([cutrelay] uxp connected: {"pluginVersion":"0.1.0","project":"P","runtime":"uxp","type":"hello"})"),
            std::string::npos);
  const json answer = bridge.command("premiere_wait_for_plugin");
  EXPECT_EQ(answer.at("connected"), true);
  EXPECT_EQ(answer.at("plugin").at("project"), "P");
  EXPECT_EQ(bridge.command("readiness").at("pluginConnected"), true);

  plugin.close();
  EXPECT_TRUE(bridge.wait_for_stderr("[cutrelay] uxp disconnected\n", 5s));
  EXPECT_EQ(bridge.command("readiness").at("pluginConnected"), false);
  // An ordinary disconnect is no failure of the connection's tasks.
  EXPECT_EQ(bridge.stderr_text().find("failed"), std::string::npos) << bridge.stderr_text();
}

TEST(PluginHello, EveryHelloIsWelcomedAndAnOddRuntimeIsUxp) {
  BridgeProcess bridge;
  FakePlugin plugin(bridge.port(), bridge.token(), {.runtime = "CEP"});
  ASSERT_TRUE(plugin.wait_welcome());
  plugin.send_json({{"type", "hello"}, {"runtime", 7}});
  ASSERT_TRUE(plugin.wait_until([&] { return plugin.messages().size() == 2; }));
  EXPECT_EQ(plugin.messages()[1].at("type"), "welcome");
  EXPECT_EQ(stored_uxp_hello(bridge).at("runtime"), 7);
  EXPECT_EQ(bridge.command("ping", {{"timeoutSec", 1}}).at("success"), true);
}

TEST(PluginHello, NewerConnectionTakesOverAndOlderOneLeavesQuietly) {
  BridgeProcess bridge;
  FakePlugin first(bridge.port(), bridge.token(), {.hello = {{"n", 1}}});
  ASSERT_TRUE(first.wait_welcome());
  FakePlugin second(bridge.port(), bridge.token(), {.hello = {{"n", 2}}});
  ASSERT_TRUE(second.wait_welcome());
  EXPECT_EQ(bridge.command("ping").at("success"), true);
  EXPECT_EQ(first.calls().size(), 0u);
  EXPECT_EQ(second.calls().size(), 1u);

  // The bridge ends the older connection rather than keep it open with no work to do;
  // the newer one stays registered, and no "disconnected" line names it.
  EXPECT_TRUE(first.wait_until([&] { return !first.connected(); }));
  EXPECT_EQ(stored_uxp_hello(bridge).at("n"), 2);
  EXPECT_EQ(bridge.command("ping").at("success"), true);
  EXPECT_EQ(bridge.stderr_text().find("disconnected"), std::string::npos) << bridge.stderr_text();
}

TEST(PluginHello, UpdateMergesIntoTheStoredHello) {
  BridgeProcess bridge;
  FakePlugin plugin(bridge.port(), bridge.token(), {.runtime = ""});
  plugin.send_json({{"type", "hello_update"}, {"fields", {{"project", "early"}}}});
  plugin.send_json({{"type", "hello"}, {"runtime", "uxp"}, {"project", "A"}, {"os", "darwin"}});
  ASSERT_TRUE(plugin.wait_welcome());
  plugin.send_json({{"type", "hello_update"}, {"fields", {{"project", "B"}}}});
  ASSERT_TRUE(plugin.wait_until([&] { return stored_uxp_hello(bridge).value("project", "") == "B"; }));
  EXPECT_EQ(stored_uxp_hello(bridge).at("os"), "darwin");
}

TEST(PluginMessages, GarbageIsSkippedAndBinaryFramesAreText) {
  BridgeProcess bridge;
  FakePlugin plugin(bridge.port(), bridge.token());
  ASSERT_TRUE(plugin.wait_welcome());
  plugin.set_handler([&](const json& call) {
    // Noise first, then the answer in a binary frame.
    plugin.send("this is not json");
    plugin.send("[[[[[[[[[[[[");
    plugin.send(std::string(5000, '['));
    plugin.send(R"({"type":"result","id":"x"})");
    plugin.send(R"({"type":"result","id":123456789})");
    plugin.send(R"({"type":42})");
    plugin.send("\xFF\xFE garbage", true);
    plugin.send(json{{"type", "result"}, {"id", call.at("id")}, {"ok", true},
                     {"result", {{"note", "caf\xC3\xA9 \xFF"}}}}
                    .dump(-1, ' ', false, json::error_handler_t::ignore),
                true);
    return FakePlugin::Reply{};
  });
  const json answer = bridge.command("ping");
  EXPECT_EQ(answer.at("success"), true);
  EXPECT_EQ(answer.at("note"), "caf\xC3\xA9 ");
  EXPECT_TRUE(plugin.connected());
}

TEST(PluginMessages, InvalidUtf8InABinaryFrameIsReplaced) {
  BridgeProcess bridge;
  FakePlugin plugin(bridge.port(), bridge.token());
  ASSERT_TRUE(plugin.wait_welcome());
  plugin.set_handler([&](const json& call) {
    plugin.send(R"({"type":"result","id":)" + call.at("id").dump() +
                    R"(,"ok":true,"result":{"t":"a)" + std::string("\xFF") + R"(b"}})",
                true);
    return FakePlugin::Reply{};
  });
  EXPECT_EQ(bridge.command("ping").at("t"), "a\xEF\xBF\xBD" "b");
}

TEST(PluginMessages, EventsAreNumberedAndPolled) {
  BridgeProcess bridge;
  FakePlugin plugin(bridge.port(), bridge.token());
  ASSERT_TRUE(plugin.wait_welcome());
  for (int i = 0; i < 3; ++i) {
    plugin.send_json({{"type", "event"}, {"kind", "export_progress"}, {"seq", 999}, {"data", i}});
  }
  ASSERT_TRUE(plugin.wait_until([&] { return bridge.command("events").at("lastSeq") == 3; }));
  const json answer = bridge.command("premiere_events", {{"sinceSeq", 1}});
  ASSERT_EQ(answer.at("events").size(), 2u);
  EXPECT_EQ(answer.at("events")[0],
            (json{{"type", "event"}, {"kind", "export_progress"}, {"seq", 2}, {"data", 1}}));
  EXPECT_EQ(answer.at("_hint"), "Poll with the returned lastSeq to see only new events.");
  plugin.close();
  EXPECT_EQ(bridge.command("events").at("events").size(), 3u);  // kept after the plug-in left
}

TEST(PluginMessages, UnregisteredConnectionsStillDeliverResultsAndEvents) {
  BridgeProcess bridge;
  FakePlugin silent(bridge.port(), bridge.token(), {.runtime = ""});
  silent.send_json({{"type", "event"}, {"kind", "k"}});
  ASSERT_TRUE(silent.wait_until([&] { return bridge.command("events").at("lastSeq") == 1; }));
  EXPECT_EQ(bridge.command("readiness").at("pluginConnected"), false);
}

}  // namespace
}  // namespace cutrelay::testing
