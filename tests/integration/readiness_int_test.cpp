#include <gtest/gtest.h>

#include <fstream>

#include "bridge_process.hpp"
#include "fake_plugin.hpp"
#include "http_client.hpp"

namespace cutrelay::testing {
namespace {

namespace fs = std::filesystem;

// A bridge that sees a made-up /Applications and a `ps` that prints a file of ours.
class Readiness : public ::testing::Test {
 protected:
  TempDir root;
  fs::path ps_output = root.path() / "ps-output";
  std::unique_ptr<BridgeProcess> bridge;

  void SetUp() override {
    write_script(root.path() / "bin" / "ps", "cat '" + ps_output.string() + "' 2>/dev/null\n");
    fs::create_directories(root.path() / "Applications");
    bridge = std::make_unique<BridgeProcess>(BridgeOptions{
        .env = {{"CUTRELAY_TEST_SYSROOT", root.path().string()}},
        .path_prefix = {root.path() / "bin"}});
  }
  void install_app() {
    fs::create_directories(root.path() / "Applications" / "Adobe Premiere Pro 2025" /
                           "Adobe Premiere Pro 2025.app");
  }
  void set_running(bool running) {
    std::ofstream(ps_output) << "/sbin/launchd\n"
                             << (running ? "/Applications/Adobe Premiere Pro 2025/Adobe Premiere "
                                           "Pro 2025.app/Contents/MacOS/Adobe Premiere Pro 2025\r\n"
                                         : "");
  }
  void record_plugin_install() {
    std::ofstream(bridge->data_dir() / "plugin-installed.json") << R"({"version":"0.1.0"})";
  }
  std::string state() { return bridge->command("readiness").at("state"); }
};

TEST_F(Readiness, WalksThroughTheStates) {
  EXPECT_EQ(state(), "no-app");
  install_app();
  EXPECT_EQ(state(), "needs-plugin");
  set_running(true);
  EXPECT_EQ(state(), "needs-plugin");  // the missing plug-in is reported first
  record_plugin_install();
  EXPECT_EQ(state(), "waiting-for-plugin");
  set_running(false);
  EXPECT_EQ(state(), "app-not-running");

  const json report = bridge->command("premiere_readiness", {{"ignored", true}});
  EXPECT_EQ(report.at("premiereInstalled"), true);
  EXPECT_EQ(report.at("premiereRunning"), false);
  EXPECT_EQ(report.at("pluginInstalled"), true);
  EXPECT_EQ(report.at("installing"), false);
  EXPECT_TRUE(report.at("lastError").is_null());
  EXPECT_EQ(report.at("_next"), json::array({"premiere_install_plugin", "premiere_launch",
                                             "premiere_wait_for_plugin"}));
}

TEST_F(Readiness, NotConnectedAnswerFollowsTheState) {
  install_app();
  record_plugin_install();
  set_running(true);
  json answer = bridge->command("get_project");
  EXPECT_EQ(answer.at("state"), "waiting-for-plugin");
  EXPECT_NE(answer.at("_hint").get<std::string>().find("premiere_wait_for_plugin {timeoutSec:60}"),
            std::string::npos);
  set_running(false);
  answer = bridge->command("get_project");
  EXPECT_EQ(answer.at("state"), "app-not-running");
  EXPECT_EQ(answer.at("_next"), json::array({"premiere_launch", "premiere_wait_for_plugin"}));
}

TEST_F(Readiness, OnlyTheUxpPluginMakesItReady) {
  install_app();
  record_plugin_install();
  set_running(true);
  FakePlugin cep(bridge->port(), bridge->token(), {.runtime = "cep"});
  ASSERT_TRUE(cep.wait_welcome());
  EXPECT_EQ(state(), "waiting-for-plugin");
  FakePlugin uxp(bridge->port(), bridge->token());
  ASSERT_TRUE(uxp.wait_welcome());
  EXPECT_EQ(state(), "ready");
}

TEST_F(Readiness, ConnectedWithoutAnInstallIsStillNoApp) {
  FakePlugin uxp(bridge->port(), bridge->token());
  ASSERT_TRUE(uxp.wait_welcome());
  const json report = bridge->command("readiness");
  EXPECT_EQ(report.at("state"), "no-app");
  EXPECT_EQ(report.at("ready"), true);
  EXPECT_EQ(report.at("pluginConnected"), true);
}

}  // namespace
}  // namespace cutrelay::testing
