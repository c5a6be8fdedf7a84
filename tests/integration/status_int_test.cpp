#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "bridge_process.hpp"
#include "fake_plugin.hpp"
#include "http_client.hpp"

namespace cutrelay::testing {
namespace {

namespace fs = std::filesystem;
using boost::beast::http::verb;

const std::string kRunning2025 =
    "/Applications/Adobe Premiere Pro 2025/Adobe Premiere Pro 2025.app/Contents/MacOS/Adobe "
    "Premiere Pro 2025";

class Status : public ::testing::Test {
 protected:
  FakeHost host;
  std::unique_ptr<BridgeProcess> bridge;

  void SetUp() override { bridge = std::make_unique<BridgeProcess>(host.bridge_options()); }
  json health() {
    const HttpResult r = http_request(bridge->port(), verb::get, "/health");
    EXPECT_EQ(r.status, 200u);
    EXPECT_EQ(r.headers.at("content-type"), "application/json");
    return json::parse(r.body);
  }
};

TEST_F(Status, NothingThereReportsEveryFact) {
  const json s = bridge->command("premiere_status");
  EXPECT_EQ(s.at("success"), true);
  EXPECT_EQ(s.at("bridgeVersion"), "0.1.0");
  EXPECT_EQ(s.at("port"), bridge->port());
  EXPECT_EQ(s.at("dataDir"), bridge->data_dir().string());
  EXPECT_EQ(s.at("premiereInstalled"), false);
  EXPECT_EQ(s.at("installs"), json::array());
  EXPECT_EQ(s.at("premiereRunning"), false);
  EXPECT_EQ(s.at("runningProcesses"), json::array());
  EXPECT_EQ(s.at("pluginConnected"), false);
  EXPECT_EQ(s.at("pluginInstalled"), false);
  EXPECT_TRUE(s.at("pluginInstalledVersion").is_null());
  EXPECT_EQ(s.at("pluginBundledVersion"), "0.1.0");
  EXPECT_EQ(s.at("cepHelperConnected"), false);
  EXPECT_TRUE(s.at("cepHelper").is_null());
  for (const char* absent : {"plugin", "pluginConnectedForSec", "responsive", "live"}) {
    EXPECT_FALSE(s.contains(absent)) << absent;
  }
  EXPECT_TRUE(s.contains("_hint"));

  const json h = health();
  EXPECT_EQ(h.at("ok"), true);
  EXPECT_EQ(h.at("name"), "premiere");
  EXPECT_EQ(h.at("version"), "0.1.0");
  EXPECT_EQ(h.at("led"), "yellow");
  EXPECT_EQ(h.at("summary"), "Premiere not running");
  EXPECT_TRUE(h.at("uptimeSec").is_number_unsigned());
  EXPECT_FALSE(h.contains("_hint"));  // /health is not decorated
}

TEST_F(Status, InstallsProcessesAndPlugins) {
  const fs::path bundle = host.install("Adobe Premiere Pro 2025");
  host.set_processes({"/sbin/launchd", kRunning2025, kRunning2025});
  std::ofstream(bridge->data_dir() / "plugin-installed.json") << R"({"version":"0.0.9"})";
  FakePlugin cep(bridge->port(), bridge->token(), {.runtime = "cep", .hello = {{"x", 1}}});
  ASSERT_TRUE(cep.wait_welcome());
  EXPECT_EQ(health().at("summary"), "Helper only");

  FakePlugin uxp(bridge->port(), bridge->token(),
                 {.hello = {{"premiereVersion", "25.1"}, {"pluginVersion", "0.1.0"}}});
  ASSERT_TRUE(uxp.wait_welcome());
  uxp.set_handler([](const json& call) { return FakePlugin::ok(call, {{"pong", true}}); });
  const json s = bridge->command("status");
  EXPECT_EQ(s.at("installs"), json::array({{{"app", bundle.string()}, {"year", 2025}}}));
  EXPECT_EQ(s.at("runningProcesses"), json::array({kRunning2025, kRunning2025}));
  EXPECT_EQ(s.at("pluginInstalledVersion"), "0.0.9");
  EXPECT_EQ(s.at("cepHelper").at("x"), 1);
  EXPECT_EQ(s.at("plugin").at("premiereVersion"), "25.1");
  EXPECT_TRUE(s.at("pluginConnectedForSec").is_number_unsigned());
  EXPECT_EQ(s.at("responsive"), true);
  EXPECT_EQ(s.at("live"), json({{"pong", true}}));
  ASSERT_FALSE(uxp.calls().empty());
  EXPECT_EQ(uxp.calls().back().at("verb"), "ping");

  const json h = health();
  EXPECT_EQ(h.at("led"), "green");
  EXPECT_EQ(h.at("tooltip"),
            "Premiere Pro 25.1 connected via UXP plugin 0.1.0. Project: (none open)");
  EXPECT_EQ(h.at("pluginConnected"), true);
  EXPECT_EQ(h.at("cepHelperConnected"), true);
  EXPECT_EQ(h.at("premiereRunning"), true);
}

TEST_F(Status, PingErrorsAndSilence) {
  FakePlugin uxp(bridge->port(), bridge->token());
  ASSERT_TRUE(uxp.wait_welcome());
  uxp.set_handler([](const json& call) { return FakePlugin::fail(call, "boom", "no"); });
  json s = bridge->command("status");
  EXPECT_EQ(s.at("responsive"), true);
  EXPECT_TRUE(s.at("live").is_null());

  // A frozen plug-in: status still succeeds, after the 5-second ping.
  uxp.set_handler([](const json&) { return FakePlugin::Reply{}; });
  s = bridge->command("status");
  EXPECT_EQ(s.at("success"), true);
  EXPECT_EQ(s.at("responsive"), false);
  EXPECT_FALSE(s.contains("live"));
  EXPECT_TRUE(s.contains("plugin"));
  EXPECT_TRUE(s.contains("pluginConnectedForSec"));
}

TEST_F(Status, PsMissingFailingOrKilled) {
  host.set_processes({kRunning2025, "/bad/\xff.app/Contents/MacOS/Adobe Premiere Pro \xfe"});
  host.set_tool("ps", "cat '" + (host.root() / "ps-output").string() + "'; exit 1\n");
  json s = bridge->command("status");
  // Exit status is not looked at; invalid bytes are replaced.
  EXPECT_EQ(s.at("runningProcesses"),
            json::array({kRunning2025, "/bad/\xEF\xBF\xBD.app/Contents/MacOS/Adobe Premiere Pro \xEF\xBF\xBD"}));
  host.set_tool("ps", "kill -9 $$\n");
  EXPECT_EQ(bridge->command("status").at("premiereRunning"), false);
  // No ps anywhere on PATH.
  host.set_tool("ps", "");
  BridgeOptions no_ps = host.bridge_options();
  no_ps.env["PATH"] = host.bin().string();
  BridgeProcess bare(no_ps);
  EXPECT_EQ(bare.command("status").at("premiereRunning"), false);
  EXPECT_EQ(json::parse(http_request(bare.port(), verb::get, "/health").body).at("summary"),
            "Premiere not running");
}

TEST_F(Status, HeadGetsTheHeadWithoutABody) {
  // The response must be the last bytes on the connection: no body after the head.
  for (const std::string& target : {std::string("/health"), std::string("/command")}) {
    const std::string reply = raw_exchange(
        bridge->port(), "HEAD " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    const auto end = reply.find("\r\n\r\n");
    ASSERT_NE(end, std::string::npos) << reply;
    EXPECT_EQ(reply.size(), end + 4) << reply;
    EXPECT_NE(reply.find(target == "/health" ? "HTTP/1.1 200" : "HTTP/1.1 405"), std::string::npos);
    const auto length = reply.find("Content-Length: ");
    ASSERT_NE(length, std::string::npos) << reply;
    EXPECT_NE(reply.substr(length + 16, 1), "0") << "the length GET would have";
  }
}

TEST_F(Status, HangingPsCountsAsNotRunning) {
  host.set_tool("ps", "sleep 60\n");
  std::vector<std::thread> clients;
  std::vector<json> answers(6);
  for (std::size_t i = 0; i < answers.size(); ++i) {
    clients.emplace_back([&, i] { answers[i] = bridge->command("readiness"); });
  }
  for (auto& t : clients) t.join();
  for (const json& a : answers) EXPECT_EQ(a.at("premiereRunning"), false);
}

}  // namespace
}  // namespace cutrelay::testing
