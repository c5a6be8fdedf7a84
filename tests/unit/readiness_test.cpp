#include "host/readiness.hpp"

#include <gtest/gtest.h>

#include "test_dir.hpp"

namespace cutrelay {
namespace {

ReadinessFacts facts(bool installed, bool running, bool connected, bool plugin) {
  ReadinessFacts f;
  f.installed = installed;
  f.running = running;
  f.connected = connected;
  if (plugin) f.plugin_version = "0.1.0";
  return f;
}

TEST(Readiness, StatesInTheirOrder) {
  EXPECT_EQ(readiness_state(facts(false, false, false, false)), "no-app");
  EXPECT_EQ(readiness_state(facts(false, true, true, true)), "no-app");
  EXPECT_EQ(readiness_state(facts(true, false, true, false)), "ready");
  EXPECT_EQ(readiness_state(facts(true, true, false, false)), "needs-plugin");
  EXPECT_EQ(readiness_state(facts(true, false, false, false)), "needs-plugin");
  EXPECT_EQ(readiness_state(facts(true, true, false, true)), "waiting-for-plugin");
  EXPECT_EQ(readiness_state(facts(true, false, false, true)), "app-not-running");
}

TEST(Readiness, ReportMembers) {
  const json report = readiness_report_from(facts(false, true, true, true));
  EXPECT_EQ(report, (json{{"success", true},
                          {"ready", true},
                          {"state", "no-app"},
                          {"installing", false},
                          {"premiereInstalled", false},
                          {"premiereRunning", true},
                          {"pluginInstalled", true},
                          {"pluginConnected", true},
                          {"lastError", nullptr}}));
}

TEST(NotConnected, HintAndNextPerState) {
  const json no_app = not_connected_answer_for("no-app");
  EXPECT_EQ(no_app.at("errorCode"), "plugin_not_connected");
  EXPECT_EQ(no_app.at("state"), "no-app");
  EXPECT_EQ(no_app.at("_next"), json::array({"premiere_wait_for_plugin", "premiere_status"}));
  EXPECT_EQ(no_app.size(), 6u);
  const json stopped = not_connected_answer_for("app-not-running");
  EXPECT_EQ(stopped.at("_next"), json::array({"premiere_launch", "premiere_wait_for_plugin"}));
  EXPECT_NE(stopped.at("_hint").get<std::string>().find("{project:\"/path/file.prproj\"}"),
            std::string::npos);
  EXPECT_EQ(not_connected_answer_for("needs-plugin").at("_next")[0], "premiere_install_plugin");
  const json waiting = not_connected_answer_for("waiting-for-plugin");
  EXPECT_NE(waiting.at("_hint").get<std::string>().find("{timeoutSec:60}"), std::string::npos);
  EXPECT_EQ(not_connected_answer_for("ready").at("_hint"), waiting.at("_hint"));
  EXPECT_EQ(waiting.at("error"),
            "The Quor plugin inside Premiere Pro is not connected, so this verb can't run yet.");
}

TEST(PluginVersion, ReadFromTheInstallRecord) {
  ScratchDir dir;
  EXPECT_EQ(installed_plugin_version(dir.path), std::nullopt);
  dir.write("plugin-installed.json", R"({"version":"0.1.0","at":1})");
  EXPECT_EQ(installed_plugin_version(dir.path), "0.1.0");
  dir.write("plugin-installed.json", R"({"version":1})");
  EXPECT_EQ(installed_plugin_version(dir.path), std::nullopt);
  dir.write("plugin-installed.json", "not json");
  EXPECT_EQ(installed_plugin_version(dir.path), std::nullopt);
  dir.write("plugin-installed.json", R"(["0.1.0"])");
  EXPECT_EQ(installed_plugin_version(dir.path), std::nullopt);
}

}  // namespace
}  // namespace cutrelay
