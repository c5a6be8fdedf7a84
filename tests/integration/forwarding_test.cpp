#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <mutex>
#include <random>
#include <thread>

#include "bridge_process.hpp"
#include "fake_plugin.hpp"
#include "http_client.hpp"

namespace cutrelay::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class Forwarding : public ::testing::Test {
 protected:
  BridgeProcess bridge;
  std::unique_ptr<FakePlugin> connect(const std::string& runtime, json hello = json::object()) {
    auto plugin = std::make_unique<FakePlugin>(bridge.port(), bridge.token(),
                                               FakePlugin::Options{runtime, std::move(hello)});
    EXPECT_TRUE(plugin->wait_welcome());
    return plugin;
  }
};

TEST_F(Forwarding, CallCarriesVerbArgsAndAFreshId) {
  auto uxp = connect("uxp");
  const json answer = bridge.command("premiere_get_sequence", {{"sequence", "Main"}, {"timeoutSec", 5}});
  ASSERT_EQ(uxp->calls().size(), 1u);
  const json call = uxp->calls()[0];
  EXPECT_EQ(call.at("type"), "call");
  EXPECT_EQ(call.at("verb"), "get_sequence");
  EXPECT_EQ(call.at("args"), (json{{"sequence", "Main"}, {"timeoutSec", 5}}));
  EXPECT_TRUE(call.at("id").is_number_unsigned());
  // The default handler echoes {verb, args}; the answer is decorated.
  EXPECT_EQ(answer.at("success"), true);
  EXPECT_EQ(answer.at("verb"), "premiere_get_sequence");
  EXPECT_EQ(answer.at("args").at("sequence"), "Main");
  EXPECT_EQ(answer.at("_next"), json::array({"premiere_preview_frame", "premiere_trim_clip",
                                             "premiere_move_clip"}));
  bridge.command("ping");
  EXPECT_GT(uxp->calls()[1].at("id").get<std::uint64_t>(), call.at("id").get<std::uint64_t>());
}

TEST_F(Forwarding, ArgsGivenAsTextArriveAsTheirValue) {
  auto uxp = connect("uxp");
  post_command(bridge.port(), {{"command", "ping"}, {"args", R"({"timeoutSec":5,"x":[1]})"}});
  post_command(bridge.port(), {{"command", "ping"}, {"args", "not json"}});
  post_command(bridge.port(), {{"command", "ping"}});
  ASSERT_EQ(uxp->calls().size(), 3u);
  EXPECT_EQ(uxp->calls()[0].at("args"), (json{{"timeoutSec", 5}, {"x", {1}}}));
  EXPECT_EQ(uxp->calls()[1].at("args"), json::object());
  EXPECT_EQ(uxp->calls()[2].at("args"), json::object());
}

TEST_F(Forwarding, AnswerShapes) {
  auto uxp = connect("uxp");
  json next_result;
  uxp->set_handler([&](const json& call) {
    json message = next_result;
    message["type"] = "result";
    message["id"] = call.at("id");
    return FakePlugin::Reply{message};
  });

  next_result = {{"ok", true}, {"result", {{"success", false}, {"path", "/x"}}}};
  json a = bridge.command("save_project");
  EXPECT_EQ(a.at("success"), true);
  EXPECT_EQ(a.at("path"), "/x");

  next_result = {{"ok", true}, {"result", 42}, {"warnings", {"w"}}};
  a = bridge.command("save_project");
  EXPECT_EQ(a.at("result"), 42);
  EXPECT_EQ(a.at("warnings"), json::array({"w"}));

  next_result = {{"ok", false}};
  a = bridge.command("save_project");
  EXPECT_EQ(a.at("error"), "plugin error");
  EXPECT_EQ(a.at("errorCode"), "premiere_error");
  EXPECT_TRUE(a.at("stack").is_null());
  EXPECT_EQ(a.at("_hint"),
            "Read `error`. premiere_status shows connection health; premiere_eval lets you probe "
            "the API directly.");

  next_result = {{"ok", false}, {"error", "No active sequence."}, {"errorCode", "no_sequence"}, {"stack", "s"}};
  a = bridge.command("get_sequence");
  EXPECT_EQ(a.at("errorCode"), "no_sequence");
  EXPECT_EQ(a.at("stack"), "s");
  EXPECT_TRUE(a.at("_hint").get<std::string>().starts_with("No active sequence:"));
  EXPECT_FALSE(a.contains("_next"));
  EXPECT_EQ(a.at("pitfalls").size(), 1u);
}

TEST_F(Forwarding, TimeoutsAndLateResults) {
  auto uxp = connect("uxp");
  auto calls = std::make_shared<std::atomic<int>>(0);
  uxp->set_handler([calls](const json& call) {
    // Answers 1.3 s late to the first call, at once afterwards (in order: the plug-in
    // answers one call at a time, so the late answer always comes first).
    const int n = (*calls)++;
    auto reply = FakePlugin::ok(call, {{"n", n}});
    if (n == 0) reply.delay = 1300ms;
    return reply;
  });
  json answer;
  const long long ms = elapsed_ms([&] { answer = bridge.command("ping", {{"timeoutSec", 0}}); });
  EXPECT_EQ(answer.at("errorCode"), "plugin_timeout");
  EXPECT_EQ(answer.at("error"),
            "Premiere didn't answer within 1s. A modal dialog in Premiere blocks scripting, or "
            "the operation is genuinely long.");
  EXPECT_EQ(answer.at("stillRunning"), true);
  EXPECT_EQ(answer.at("verb"), "premiere_ping");
  EXPECT_GE(ms, 950);
  // The late answer to the first call is dropped, not taken for the second's.
  EXPECT_EQ(bridge.command("ping").at("n"), 1);
}

TEST_F(Forwarding, FrameExportDefaultsToThePreviewsFolder) {
  auto uxp = connect("uxp");
  auto cep = connect("cep");
  bridge.command("export_frame", {{"time", 3}});
  bridge.command("export_frame", {{"dir", nullptr}});
  bridge.command("export_frames", {{"count", 4}});
  const fs::path previews = bridge.data_dir() / "previews";
  EXPECT_TRUE(fs::is_directory(previews));
  ASSERT_EQ(uxp->calls().size(), 3u);
  EXPECT_EQ(uxp->calls()[0].at("args").at("dir"), previews.string());
  EXPECT_TRUE(uxp->calls()[1].at("args").at("dir").is_null());
  EXPECT_EQ(uxp->calls()[2].at("args").at("dir"), previews.string());

  bridge.command("export_frame_qe", {{"time", 1.2345}});
  bridge.command("export_frame_qe", json::object());
  bridge.command("export_frame_qe", {{"time", 2}, {"path", "/mine.png"}});
  ASSERT_EQ(cep->calls().size(), 3u);
  EXPECT_EQ(cep->calls()[0].at("args").at("path"), (previews / "qe_1234ms.png").string());
  EXPECT_EQ(cep->calls()[1].at("args").at("path"), (previews / "qe_0ms.png").string());
  EXPECT_EQ(cep->calls()[2].at("args").at("path"), "/mine.png");
}

TEST_F(Forwarding, RazorPrefersTheCepHelper) {
  auto uxp = connect("uxp");
  bridge.command("razor", {{"time", 1}});
  EXPECT_EQ(uxp->calls().size(), 1u);
  auto cep = connect("cep");
  bridge.command("razor", {{"time", 1}});
  EXPECT_EQ(cep->calls().size(), 1u);
  EXPECT_EQ(uxp->calls().size(), 1u);
  cep->close();
  ASSERT_TRUE(bridge.wait_for_stderr("cep disconnected", 5s));
  bridge.command("razor", {{"time", 1}});
  EXPECT_EQ(uxp->calls().size(), 2u);
}

TEST_F(Forwarding, MissingPluginsAreExplained) {
  json answer = bridge.command("set_speed", {{"clip", "V1:0"}, {"speed", 2}});
  EXPECT_EQ(answer.at("errorCode"), "cep_not_connected");
  EXPECT_EQ(answer.at("_hint"),
            "Neither in-app plugin is connected. premiere_readiness says what's missing.");
  EXPECT_EQ(answer.at("pitfalls"), json::array({"Acts on the ACTIVE sequence."}));

  answer = bridge.command("get_project");
  EXPECT_EQ(answer.at("errorCode"), "plugin_not_connected");
  EXPECT_EQ(answer.at("state"), "no-app");

  auto uxp = connect("uxp");
  answer = bridge.command("add_tracks", {{"video", 1}});
  EXPECT_EQ(answer.at("errorCode"), "cep_not_connected");
  EXPECT_TRUE(answer.at("_hint").get<std::string>().starts_with("The UXP plugin is up but the CEP helper isn't."));
  EXPECT_EQ(answer.at("_next"), json::array({"premiere_install_plugin", "premiere_quit", "premiere_launch"}));
  EXPECT_EQ(uxp->calls().size(), 0u);

  // A CEP helper alone does not serve UXP verbs.
  uxp->close();
  auto cep = connect("cep");
  EXPECT_EQ(bridge.command("ping").at("errorCode"), "plugin_not_connected");
  EXPECT_EQ(cep->calls().size(), 0u);
}

TEST_F(Forwarding, BridgeVerbsAreNeverForwarded) {
  auto uxp = connect("uxp");
  // The preset search runs in the bridge, even with the plug-in connected.
  const json answer = bridge.command("premiere_list_export_presets", {{"limit", 0}});
  EXPECT_EQ(answer.at("success"), true);
  EXPECT_TRUE(answer.contains("searchedRoots"));
  EXPECT_EQ(uxp->calls().size(), 0u);
  EXPECT_EQ(bridge.command("no_such_verb").at("error"), "unknown verb premiere_no_such_verb");
}

TEST_F(Forwarding, DisconnectMidCallAnswersAtOnce) {
  auto uxp = connect("uxp");
  uxp->set_handler([](const json&) { return FakePlugin::Reply{.drop = true}; });
  // With an hour's time-out, only the disconnect can end the call within the test's time.
  const json answer = bridge.command("ping", {{"timeoutSec", 3600}});
  EXPECT_EQ(answer.at("errorCode"), "plugin_disconnected");
  EXPECT_EQ(answer.at("_hint").get<std::string>().substr(0, 26), "Check premiere_status. If ");
  EXPECT_TRUE(bridge.wait_for_stderr("[cutrelay] uxp disconnected", 5s));
}

// Plug-ins coming and going, with agents' connections opened in between, must never leave
// a request unanswered.
TEST_F(Forwarding, PluginsComingAndGoingLeaveEveryRequestAnswered) {
  for (int round = 0; round < 6; ++round) {
    auto uxp = connect("uxp");
    for (int i = 0; i < 5; ++i) {
      ASSERT_EQ(bridge.command("ping").at("success"), true) << "round " << round;
    }
    uxp->drop();
    // Gone once a ping is refused for want of a plug-in; the requests after it are still
    // answered.
    bool refused = false;
    for (int i = 0; i < 200 && !refused; ++i) {
      const json answer = bridge.command("ping", {{"timeoutSec", 1}});
      refused = answer.at("errorCode") == "plugin_not_connected";
      if (!refused) std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(refused) << "round " << round;
    EXPECT_EQ(bridge.command("events").at("success"), true);
  }
}

TEST_F(Forwarding, SupersededConnectionsCallsRunToTheirTimeout) {
  auto old_plugin = connect("uxp");
  old_plugin->set_handler([](const json&) { return FakePlugin::Reply{}; });  // never answers
  auto pending = std::async(std::launch::async, [&] { return bridge.command("ping", {{"timeoutSec", 2}}); });
  ASSERT_TRUE(old_plugin->wait_until([&] { return old_plugin->calls().size() == 1; }));
  auto new_plugin = connect("uxp");
  old_plugin->drop();
  const json answer = pending.get();
  EXPECT_EQ(answer.at("errorCode"), "plugin_timeout");
  EXPECT_EQ(bridge.command("ping").at("success"), true);
}

TEST_F(Forwarding, TwoHundredConcurrentCallsAnsweredInShuffledOrder) {
  auto uxp = connect("uxp");
  constexpr int kCalls = 200;
  std::mutex mutex;
  std::vector<json> held;
  FakePlugin* plugin = uxp.get();
  uxp->set_handler([&](const json& call) {
    std::vector<json> batch;
    {
      std::lock_guard lock(mutex);
      held.push_back(call);
      if (held.size() < kCalls) return FakePlugin::Reply{};
      batch.swap(held);
    }
    std::shuffle(batch.begin(), batch.end(), std::mt19937(42));
    for (const json& c : batch) {
      plugin->send_json({{"type", "result"}, {"id", c.at("id")}, {"ok", true},
                         {"result", {{"tag", c.at("args").at("tag")}}}});
    }
    return FakePlugin::Reply{};
  });
  std::vector<std::future<json>> answers;
  for (int i = 0; i < kCalls; ++i) {
    answers.push_back(std::async(std::launch::async, [&, i] {
      return bridge.command("ping", {{"tag", i}, {"timeoutSec", 30}});
    }));
  }
  for (int i = 0; i < kCalls; ++i) {
    const json answer = answers[i].get();
    EXPECT_EQ(answer.at("tag"), i);
  }
}

TEST_F(Forwarding, PluginVanishingWithManyCallsPendingFailsThemAll) {
  auto uxp = connect("uxp");
  uxp->set_handler([](const json&) { return FakePlugin::Reply{}; });
  constexpr int kCalls = 300;
  std::vector<std::future<json>> answers;
  for (int i = 0; i < kCalls; ++i) {
    answers.push_back(std::async(std::launch::async, [&] {
      return bridge.command("get_project", {{"timeoutSec", 60}});
    }));
  }
  ASSERT_TRUE(uxp->wait_until([&] { return uxp->calls().size() == kCalls; }, 20s));
  uxp->drop();
  for (auto& f : answers) {
    ASSERT_EQ(f.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(f.get().at("errorCode"), "plugin_disconnected");
  }
  // A new plug-in picks up where the old one left.
  auto fresh = connect("uxp");
  EXPECT_EQ(bridge.command("ping").at("success"), true);
}

TEST_F(Forwarding, WaitForPlugin) {
  json answer;
  const long long ms = elapsed_ms([&] { answer = bridge.command("wait_for_plugin", {{"timeoutSec", 0}}); });
  EXPECT_EQ(answer.at("error"), "plugin did not connect within 1s");
  EXPECT_EQ(answer.at("errorCode"), "plugin_not_connected");
  EXPECT_EQ(answer.at("verb"), "premiere_wait_for_plugin");
  EXPECT_GE(ms, 900);

  // A plug-in that turns up while the verb waits is reported. Over MCP the verb says when it
  // has begun to wait (its first progress notification), so the plug-in comes after that.
  const HttpResult opened = http_request(
      bridge.port(), boost::beast::http::verb::post, "/mcp",
      R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-11-25","capabilities":{},"clientInfo":{"name":"t","version":"1"}}})",
      {{"Content-Type", "application/json"}, {"Accept", "application/json, text/event-stream"}});
  ASSERT_EQ(opened.status, 200u) << opened.body;
  const std::string call =
      R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"premiere_wait_for_plugin","arguments":{"timeoutSec":10},"_meta":{"progressToken":"w"}}})";
  StreamingConnection waiting(bridge.port());
  waiting.send("POST /mcp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
               "Accept: application/json, text/event-stream\r\nMcp-Session-Id: " +
               opened.headers.at("mcp-session-id") + "\r\nContent-Length: " + std::to_string(call.size()) +
               "\r\n\r\n" + call);
  ASSERT_TRUE(waiting.read_until("Waiting up to 10s", 5s)) << waiting.received();
  auto cep = connect("cep");  // the helper does not count
  auto uxp = connect("uxp", {{"project", "Edit"}});
  ASSERT_TRUE(waiting.read_until("\r\n0\r\n\r\n", 10s)) << waiting.received();  // the stream's last chunk
  const std::string& stream = waiting.received();
  const std::size_t data = stream.rfind("data: ", stream.find(R"("id":2,)"));
  ASSERT_NE(data, std::string::npos) << stream;
  const std::size_t line_end = stream.find('\n', data);
  ASSERT_NE(line_end, std::string::npos) << stream;
  answer = json::parse(stream.substr(data + 6, line_end - data - 6)).at("result").at("structuredContent");
  EXPECT_EQ(answer.at("connected"), true);
  EXPECT_EQ(answer.at("plugin").at("project"), "Edit");
  EXPECT_EQ(answer.at("_hint"), "Once connected, run your edit verbs.");
}

}  // namespace
}  // namespace cutrelay::testing
