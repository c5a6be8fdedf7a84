// monitor_snapshot and the direct API client against the real bridge and a scripted direct
// API server on loopback.
#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <thread>

#include "bridge_process.hpp"
#include "fake_direct_api.hpp"
#include "fake_plugin.hpp"

namespace cutrelay::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

json window(json bundle, json title, int width, int height, json hwnd) {
  return {{"appBundleId", bundle}, {"title", title}, {"rect", {{"width", width}, {"height", height}}},
          {"hwnd", hwnd}};
}

const json kWindows = json::array({
    window("com.adobe.PremierePro.25", "Cut.prproj", 320, 240, 11),  // a palette
    window("com.adobe.PremierePro.25", "Adobe Premiere Pro 2025 - /Users/a/Cut.prproj", 1920, 1080, 12),
    window("com.apple.finder", "Finder", 2560, 1440, 13),
});

// A direct API that lists kWindows (its output as a JSON string, as the application sends
// it) and captures any window as the text "PNGDATA".
FakeDirectApi::Reply desktop(const json& body) {
  if (body.at("command") == "desktop_list_windows") {
    return FakeDirectApi::json_reply({{"ok", true}, {"output", json{{"data", {{"windows", kWindows}}}}.dump()}});
  }
  return FakeDirectApi::json_reply(
      {{"output", {{"data", {{"image", "PNGDATA"}, {"safePath", "/tmp/s.png"}, {"fullPath", "/f.png"}}}}}});
}

std::string header_block(const std::string& request) { return request.substr(0, request.find("\r\n\r\n") + 4); }

struct Snapshot : ::testing::Test {
  FakeDirectApi api;
  std::unique_ptr<BridgeProcess> bridge;

  void start(std::map<std::string, std::optional<std::string>> env) {
    env.emplace("QUOR_BRIDGE_TOKEN", std::nullopt);
    env.emplace("QUOR_DIRECT_API_URL", std::nullopt);
    env.emplace("CUTRELAY_TEST_DIRECT_API_TIMEOUT_MS", "1500");
    bridge = std::make_unique<BridgeProcess>(BridgeOptions{.env = std::move(env)});
  }
  json snapshot(const json& args = json::object()) { return bridge->command("premiere_monitor_snapshot", args); }
  json unreachable(const std::string& url) {
    start({{"QUOR_DIRECT_API_URL", url}});
    const json answer = snapshot();
    EXPECT_EQ(answer.at("success"), false);
    EXPECT_EQ(answer.at("errorCode"), "qb_unreachable");
    EXPECT_EQ(answer.at("_hint"),
              "This verb needs Quor Bridge's direct API (it's set when Quor Bridge spawns the "
              "bridge). Use premiere_preview_frame instead.");
    return answer;
  }
};

TEST_F(Snapshot, CapturesTheLargestPremiereWindow) {
  api.set_handler(desktop);
  start({{"QUOR_DIRECT_API_URL", api.url() + "///"}});
  const json answer = snapshot();
  ASSERT_EQ(answer.at("success"), true) << answer;
  EXPECT_EQ(answer.at("image"), json({{"mime", "image/png"}, {"base64", "PNGDATA"}}));
  EXPECT_EQ(answer.at("window"),
            json({{"hwnd", 12}, {"title", "Adobe Premiere Pro 2025 - /Users/a/Cut.prproj"}}));
  EXPECT_EQ(answer.at("safePath"), "/tmp/s.png");
  EXPECT_EQ(answer.at("fullPath"), "/f.png");
  EXPECT_TRUE(answer.at("error").is_null());
  EXPECT_EQ(answer.at("verb"), "premiere_monitor_snapshot");

  const auto requests = api.requests();
  ASSERT_EQ(requests.size(), 2u);
  const std::string host_port = "127.0.0.1:" + std::to_string(api.port());
  EXPECT_EQ(requests[0],
            "POST /command HTTP/1.1\r\nHost: " + host_port +
                "\r\nContent-Type: application/json\r\nContent-Length: 44\r\nConnection: close\r\n\r\n"
                R"({"args":{},"command":"desktop_list_windows"})");
  EXPECT_TRUE(requests[1].ends_with(R"({"args":{"hwnd":12},"command":"desktop_screenshot_window"})"));
}

TEST_F(Snapshot, TokenHeaderAndPortFile) {
  api.set_handler(desktop);
  TempDir home;
  fs::create_directories(home.path() / ".quor");
  std::ofstream(home.path() / ".quor" / "direct-api-port") << api.port() << "\n";
  start({{"HOME", home.path().string()}, {"QUOR_BRIDGE_TOKEN", "tok en"}});
  EXPECT_EQ(snapshot().at("success"), true);
  EXPECT_TRUE(header_block(api.requests().at(0)).ends_with("Connection: close\r\nX-Quor-Bridge-Token: tok en\r\n\r\n"));

  // host:port in the file, with a name looked up (localhost comes from the hosts file).
  std::ofstream(home.path() / ".quor" / "direct-api-port") << " localhost:" << api.port() << " \n";
  const json answer = snapshot();
  EXPECT_EQ(answer.at("success"), true) << answer;
  EXPECT_NE(api.requests().back().find("Host: localhost:" + std::to_string(api.port()) + "\r\n"),
            std::string::npos);
}

TEST_F(Snapshot, MovesThePlayheadFirstOnlyWhenTimeIsGiven) {
  api.set_handler(desktop);
  start({{"QUOR_DIRECT_API_URL", api.url()}});
  FakePlugin plugin(bridge->port(), bridge->token());
  ASSERT_TRUE(plugin.wait_welcome());

  EXPECT_EQ(snapshot().at("success"), true);
  EXPECT_TRUE(plugin.calls().empty());

  EXPECT_EQ(snapshot({{"time", nullptr}, {"settleMs", 0}}).at("success"), true);
  ASSERT_EQ(plugin.calls().size(), 1u);
  EXPECT_EQ(plugin.calls()[0].at("verb"), "set_playhead");
  EXPECT_EQ(plugin.calls()[0].at("args"), json({{"time", nullptr}, {"sequence", nullptr}}));

  snapshot({{"time", "00:00:01:00"}, {"sequence", "Main"}, {"settleMs", "500"}, {"other", 1}});
  EXPECT_EQ(plugin.calls()[1].at("args"), json({{"time", "00:00:01:00"}, {"sequence", "Main"}}));

  // A failed move is the answer; the window is not even listed.
  const std::size_t listed = api.requests().size();
  plugin.set_handler([](const json& call) { return FakePlugin::fail(call, "bad_time", "Bad time: x"); });
  const json answer = snapshot({{"time", "x"}});
  EXPECT_EQ(answer.at("errorCode"), "bad_time");
  EXPECT_EQ(answer.at("verb"), "premiere_monitor_snapshot");
  EXPECT_EQ(api.requests().size(), listed);
}

TEST_F(Snapshot, PlayheadMoveWithoutPluginIsTheNotConnectedAnswer) {
  start({{"QUOR_DIRECT_API_URL", api.url()}});
  const json answer = snapshot({{"time", 1}});
  EXPECT_EQ(answer.at("success"), false);
  EXPECT_TRUE(api.requests().empty());
}

TEST_F(Snapshot, NoWindowOrAFailedCapture) {
  api.set_handler([](const json& body) {
    if (body.at("command") == "desktop_list_windows") {
      return FakeDirectApi::json_reply({{"output", {{"data", {{"windows", {window("x", "adobe premiere pro", 9, 9, 1)}}}}}}});
    }
    return FakeDirectApi::json_reply({});
  });
  start({{"QUOR_DIRECT_API_URL", api.url()}});
  json answer = snapshot();
  EXPECT_EQ(answer.at("errorCode"), "window_not_found");
  EXPECT_EQ(answer.at("error"), "Couldn't find Premiere's main window.");
  EXPECT_EQ(answer.at("_hint"), "Is Premiere running and not minimized? premiere_status.");

  api.set_handler([](const json& body) {
    if (body.at("command") == "desktop_list_windows") {
      return FakeDirectApi::json_reply({{"output", {{"data", {{"windows", kWindows}}}}}});
    }
    return FakeDirectApi::Reply{"HTTP/1.1 200 OK\r\n\r\n{broken"};
  });
  answer = snapshot();
  EXPECT_EQ(answer.at("errorCode"), "screenshot_failed");
  EXPECT_TRUE(answer.at("error").get<std::string>().starts_with("bad JSON from Quor Bridge: "));

  api.set_handler([](const json& body) {
    if (body.at("command") == "desktop_list_windows") {
      return FakeDirectApi::json_reply({{"output", {{"data", {{"windows", kWindows}}}}}});
    }
    return FakeDirectApi::json_reply({{"error", "capture denied"}});
  });
  answer = snapshot();
  EXPECT_EQ(answer.at("success"), false);
  EXPECT_EQ(answer.at("error"), "capture denied");
  EXPECT_TRUE(answer.at("image").is_null());
}

TEST_F(Snapshot, MegabytesOfChunkedImageArriveWhole) {
  // The fake's thread may still be in the handler when the test body ends: it holds its own
  // copy of the image. Six megabytes get the time they need on a loaded or instrumented
  // build: what is tested here is that they arrive whole.
  const std::string image(6u << 20, 'A');
  api.set_handler([image](const json& body) {
    if (body.at("command") == "desktop_list_windows") return desktop(body);
    return FakeDirectApi::json_reply({{"output", {{"image", image}}}}, 65536);
  });
  start({{"QUOR_DIRECT_API_URL", api.url()}, {"CUTRELAY_TEST_DIRECT_API_TIMEOUT_MS", "30000"}});
  const json answer = snapshot();
  ASSERT_EQ(answer.at("success"), true) << answer.dump().substr(0, 300);
  EXPECT_EQ(answer.at("image").at("base64").get<std::string>().size(), image.size());
  EXPECT_TRUE(answer.at("safePath").is_null());
}

// A capture answer that never ends is cut off at the answer limit (it used to be read until
// memory ran out), and its connection is dropped at once. The limit on the whole exchange is
// the real minute here, so the cut-off cannot be mistaken for a time-out.
TEST_F(Snapshot, AnAnswerThatNeverEndsIsCutOff) {
  api.set_handler([&](const json& body) {
    if (body.at("command") == "desktop_list_windows") return desktop(body);
    return FakeDirectApi::Reply{.raw = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n",
                                .flood = true};
  });
  bridge = std::make_unique<BridgeProcess>(BridgeOptions{.env = {{"QUOR_DIRECT_API_URL", api.url()},
                                                                 {"QUOR_BRIDGE_TOKEN", std::nullopt}}});
  const json answer = snapshot();
  EXPECT_EQ(answer.at("success"), false);
  EXPECT_EQ(answer.at("errorCode"), "screenshot_failed");
  EXPECT_EQ(answer.at("error"), "Quor Bridge's answer is larger than 64 MiB");
  for (int i = 0; i < 500 && api.floods_cut_off() == 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(api.floods_cut_off(), 1) << "the bridge hung up";
  EXPECT_TRUE(bridge->running());
}

TEST_F(Snapshot, UnreachableDirectApi) {
  // Neither variable nor port file.
  EXPECT_EQ(unreachable("").at("error"), "direct API must be http://");
  bridge.reset();
  start({});
  EXPECT_EQ(snapshot().at("error"), "Quor Bridge direct API not found (QUOR_DIRECT_API_URL unset)");
  bridge.reset();
  EXPECT_EQ(unreachable("https://127.0.0.1:" + std::to_string(api.port())).at("error"),
            "direct API must be http://");
  bridge.reset();
  EXPECT_EQ(unreachable("http://127.0.0.1:" + std::to_string(free_port())).at("error"), "Connection refused");
  bridge.reset();
  EXPECT_EQ(unreachable("http://127.0.0.1").at("error"), "invalid socket address");
  bridge.reset();
  EXPECT_EQ(unreachable("http://127.0.0.1:99999").at("error"), "invalid port value");
  EXPECT_TRUE(api.requests().empty());  // no connection was attempted for any of these

  api.set_handler([](const json&) { return FakeDirectApi::Reply{"HTTP/1.1 200 OK\r\n{\"a\":1}"}; });
  bridge.reset();
  EXPECT_EQ(unreachable(api.url()).at("error"), "bad HTTP response");
  api.set_handler([](const json&) { return FakeDirectApi::Reply{"HTTP/1.1 500 X\r\n\r\n<html>"}; });
  bridge.reset();
  EXPECT_TRUE(unreachable(api.url()).at("error").get<std::string>().starts_with("bad JSON from Quor Bridge: "));
}

TEST_F(Snapshot, SilentDirectApiTimesOutWithoutHoldingUpOthers) {
  api.set_handler([](const json&) { return FakeDirectApi::Reply{.silent = true}; });
  start({{"QUOR_DIRECT_API_URL", api.url()}});
  auto waiting = std::async(std::launch::async, [&] { return snapshot(); });
  EXPECT_EQ(bridge->command("describe").at("success"), true);
  const json answer = waiting.get();
  EXPECT_EQ(answer.at("errorCode"), "qb_unreachable");
  EXPECT_EQ(answer.at("error"), "Quor Bridge timed out");
}

}  // namespace
}  // namespace cutrelay::testing
