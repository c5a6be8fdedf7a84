// premiere_install_plugin and premiere_plugin_info through the real binary, against a fake
// Adobe installer agent under the test root and a fake `defaults` on PATH that record how
// they were called.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <thread>

#include "bridge_process.hpp"
#include "installer/embedded_files.hpp"
#include "installer/plugin_installer.hpp"

namespace cutrelay::testing {
namespace {

namespace fs = std::filesystem;

// One entry of a ZIP archive, read by Info-ZIP's unzip.
std::string unzip_entry(const fs::path& zip, const std::string& name) {
  std::string out;
  FILE* pipe = ::popen(("unzip -p '" + zip.string() + "' '" + name + "'").c_str(), "r");
  if (pipe == nullptr) return out;
  char chunk[4096];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
  EXPECT_EQ(::pclose(pipe), 0);
  return out;
}

class Installer : public ::testing::Test {
 protected:
  TempDir root;
  fs::path bin = root.path() / "bin";
  fs::path upia = root.path() / fs::path(kUpiaPath).relative_path();
  fs::path upia_calls = root.path() / "upia-calls";
  fs::path defaults_calls = root.path() / "defaults-calls";
  fs::path ps_output = root.path() / "ps-output";
  std::unique_ptr<BridgeProcess> bridge;

  void SetUp() override {
    write_script(bin / "ps", "cat '" + ps_output.string() + "' 2>/dev/null\n");
    write_script(bin / "defaults", "echo \"$*\" >> '" + defaults_calls.string() + "'\n");
  }
  void start(std::map<std::string, std::optional<std::string>> env = {}) {
    env["CUTRELAY_TEST_SYSROOT"] = root.path().string();
    bridge = std::make_unique<BridgeProcess>(
        BridgeOptions{.env = std::move(env), .path_prefix = {bin}});
  }
  // A fake agent: records its arguments (one call per line), then runs `body`.
  void agent(const std::string& body) {
    write_script(upia, "echo \"$*\" >> '" + upia_calls.string() + "'\n" + body);
  }
  void premiere_runs() {
    std::ofstream(ps_output) << "/Applications/Adobe Premiere Pro 2025/Adobe Premiere Pro "
                                "2025.app/Contents/MacOS/Adobe Premiere Pro 2025\n";
  }
  fs::path ccx() const { return bridge->data_dir() / "inc.quor.premiere.bridge.ccx"; }
  fs::path cep() const {
    return bridge->home() / "Library/Application Support/Adobe/CEP/extensions" /
           "inc.quor.premiere.cep";
  }
  json install(const json& args = json::object()) {
    return bridge->command("premiere_install_plugin", args);
  }
  // The CEP result an install gives with this build's embedded helper files.
  void expect_cep_installed(const json& answer) {
    const json& cep_result = answer.at("cep");
    if (cep_helper_files().empty()) {
      // Until the helper's files exist the copy fails loudly instead of "installing"
      // an empty folder.
      EXPECT_EQ(cep_result.at("errorCode"), "cep_copy_failed");
      return;
    }
    EXPECT_EQ(cep_result.at("ok"), true);
    EXPECT_EQ(cep_result.at("dir"), cep().string());
    json modes = json::array();
    for (int v = 9; v <= 13; ++v) modes.push_back({{"csxs", v}, {"ok", true}});
    EXPECT_EQ(cep_result.at("playerDebugMode"), modes);
    for (const EmbeddedFile& f : cep_helper_files()) {
      EXPECT_EQ(read_text(cep() / fs::path(f.path)), f.bytes) << f.path;
    }
  }
};

TEST_F(Installer, InstallsBothPluginsAndRecordsIt) {
  agent("echo '  Installation Successful  '\n");
  start();
  const json connection = bridge->command("premiere_plugin_info");
  EXPECT_TRUE(connection.at("installedVersion").is_null());
  EXPECT_EQ(connection.at("cepInstalled"), false);

  const json answer = install({{"force", "true"}, {"cep", nullptr}});
  EXPECT_EQ(answer.at("success"), true) << answer.dump();
  EXPECT_EQ(answer.at("version"), "0.1.0");
  EXPECT_EQ(answer.at("premiereRunning"), false);
  EXPECT_EQ(answer.at("_hint"), "Installed. premiere_launch next; the plugin connects on startup.");
  EXPECT_EQ(answer.at("_next"), json::array({"premiere_launch"}));
  EXPECT_EQ(answer.at("verb"), "premiere_install_plugin");
  // force "true" is not the JSON value true: no removal.
  EXPECT_EQ(answer.at("uxp"),
            (json{{"ok", true},
                  {"ccx", ccx().string()},
                  {"upia", upia.string()},
                  {"log", {{{"step", "install"}, {"ok", true}, {"output", "Installation Successful"}}}}}));
  EXPECT_EQ(read_text(upia_calls), "--install " + ccx().string() + "\n");
  // The package carries this bridge's connection file, for a plug-in that cannot read HOME.
  EXPECT_EQ(unzip_entry(ccx(), "connection.json"), read_text(bridge->data_dir() / "connection.json"));
  EXPECT_NE(read_text(bridge->data_dir() / "connection.json").find(bridge->token()), std::string::npos);
  expect_cep_installed(answer);
  if (!cep_helper_files().empty()) {
    EXPECT_EQ(read_text(defaults_calls),
              "write com.adobe.CSXS.9 PlayerDebugMode 1\n"
              "write com.adobe.CSXS.10 PlayerDebugMode 1\n"
              "write com.adobe.CSXS.11 PlayerDebugMode 1\n"
              "write com.adobe.CSXS.12 PlayerDebugMode 1\n"
              "write com.adobe.CSXS.13 PlayerDebugMode 1\n");
  }

  // The record: pretty-printed, sorted, no trailing newline, the answer's two results.
  const std::string record = read_text(bridge->data_dir() / "plugin-installed.json");
  EXPECT_EQ(record, json({{"version", "0.1.0"}, {"uxp", answer.at("uxp")}, {"cep", answer.at("cep")}})
                        .dump(2));

  const json info = bridge->command("premiere_plugin_info");
  EXPECT_EQ(info.at("success"), true);
  EXPECT_EQ(info.at("bundledVersion"), "0.1.0");
  EXPECT_EQ(info.at("installedVersion"), "0.1.0");
  EXPECT_EQ(info.at("uxpPluginId"), "inc.quor.premiere.bridge");
  EXPECT_EQ(info.at("upia"), upia.string());
  EXPECT_EQ(info.at("cepDir"), cep().string());
  EXPECT_EQ(info.at("ccx"), ccx().string());
  EXPECT_EQ(info.at("cepInstalled"), find_embedded(cep_helper_files(), "CSXS/manifest.xml") != nullptr);
  EXPECT_EQ(bridge->command("premiere_readiness").at("pluginInstalled"), true);
}

TEST_F(Installer, ForceRemovesFirstAndARunningPremiereNeedsARestart) {
  agent("echo done\n");
  premiere_runs();
  start();
  const json answer = install({{"force", true}, {"cep", false}});
  EXPECT_EQ(answer.at("success"), true) << answer.dump();
  const json& log = answer.at("uxp").at("log");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], (json{{"step", "remove"}, {"output", "done"}}));
  EXPECT_EQ(log[1].at("step"), "install");
  EXPECT_EQ(read_text(upia_calls), "--remove Quor Bridge\n--install " + ccx().string() + "\n");
  EXPECT_EQ(answer.at("premiereRunning"), true);
  EXPECT_EQ(answer.at("_next"), json::array({"premiere_quit", "premiere_launch"}));
  EXPECT_EQ(answer.at("_hint"),
            "Installed. Premiere is running, so it hasn't loaded the plugin yet: premiere_quit "
            "{save:true} then premiere_launch. After launch, if pluginConnected stays false, the "
            "Quor Bridge panel needs opening once (Window > UXP Plugins > Quor Bridge) — the CEP "
            "helper connects on its own meanwhile.");
  // cep:false skips the helper and the preference writes alike.
  EXPECT_EQ(answer.at("cep"), (json{{"ok", true}, {"skipped", true}}));
  EXPECT_FALSE(fs::exists(defaults_calls));
  EXPECT_FALSE(fs::exists(cep()));
}

TEST_F(Installer, TheAgentsWordsDecideTheOutcome) {
  start();
  // Exit status 1, but the agent says it worked.
  agent("echo 'INSTALLATION SUCCESSFUL'; exit 1\n");
  json answer = install({{"cep", false}});
  EXPECT_EQ(answer.at("success"), true);
  EXPECT_EQ(answer.at("uxp").at("log")[0].at("ok"), false);

  // Exit status 0, but "errors" in the output and no success phrase.
  fs::remove(bridge->data_dir() / "plugin-installed.json");
  agent("echo 'Done with 0 errors' >&2\n");
  answer = install({{"cep", false}});
  EXPECT_EQ(answer.at("success"), false);
  EXPECT_EQ(answer.at("uxp").at("ok"), false);
  EXPECT_EQ(answer.at("uxp").at("log")[0].at("output"), "Done with 0 errors");
  EXPECT_TRUE(answer.at("errorCode").is_null());
  EXPECT_EQ(answer.at("error"), "UXP plugin install failed — see uxp.log for the installer's output.");
  EXPECT_EQ(answer.at("_hint"),
            "If UPIA refused the unsigned .ccx, the package is at " + ccx().string() +
                " — opening it with the Creative Cloud app installs it (one confirmation click). "
                "Retry with force:true if an older copy is in the way.");
  // A failed install leaves the record as it was (absent here).
  EXPECT_FALSE(fs::exists(bridge->data_dir() / "plugin-installed.json"));
  EXPECT_TRUE(bridge->command("premiere_plugin_info").at("installedVersion").is_null());
}

TEST_F(Installer, MissingAgentStillInstallsTheCepHelper) {
  start();
  const json answer = install();
  EXPECT_EQ(answer.at("success"), false);
  EXPECT_EQ(answer.at("errorCode"), "upia_missing");
  EXPECT_EQ(answer.at("uxp"),
            (json{{"ok", false},
                  {"errorCode", "upia_missing"},
                  {"error",
                   "Adobe's UnifiedPluginInstallerAgent wasn't found (it ships with the Creative "
                   "Cloud desktop app)."}}));
  EXPECT_NE(answer.at("_hint").get<std::string>().find("the package is at ? — opening"),
            std::string::npos);
  expect_cep_installed(answer);
  EXPECT_FALSE(fs::exists(ccx()));  // no agent, no package
  EXPECT_FALSE(fs::exists(bridge->data_dir() / "plugin-installed.json"));
  EXPECT_TRUE(bridge->command("premiere_plugin_info").at("upia").is_null());
}

TEST_F(Installer, MisbehavingAgents) {
  start();
  // Present but not executable: the start error is the install's output.
  agent("echo never\n");
  fs::permissions(upia, fs::perms::owner_read | fs::perms::owner_write);
  json answer = install({{"cep", false}});
  EXPECT_EQ(answer.at("success"), false);
  EXPECT_TRUE(answer.at("errorCode").is_null());
  const json& log = answer.at("uxp").at("log");
  EXPECT_EQ(log[0].at("ok"), false);
  EXPECT_FALSE(log[0].at("output").get<std::string>().empty());
  EXPECT_FALSE(fs::exists(upia_calls));

  // Killed by a signal: not a clean exit, so not a success.
  agent("kill -9 $$\n");
  answer = install({{"cep", false}});
  EXPECT_EQ(answer.at("success"), false);
  EXPECT_EQ(answer.at("uxp").at("log")[0].at("ok"), false);

  // Silent and exit 0: nothing says it failed.
  agent("exit 0\n");
  answer = install({{"cep", false}});
  EXPECT_EQ(answer.at("success"), true);
  EXPECT_EQ(answer.at("uxp").at("log")[0].at("output"), "");

  // Megabytes of output and invalid UTF-8: all of it comes back, made valid.
  agent("printf 'ok \\377\\n'; head -c 3000000 /dev/zero | tr '\\000' 'a'; printf '\\n\\n'\n");
  answer = install({{"cep", false}});
  EXPECT_EQ(answer.at("success"), true);
  const std::string output = answer.at("uxp").at("log")[0].at("output");
  EXPECT_EQ(output.size(), 7u + 3000000u);
  EXPECT_EQ(output.substr(0, 7), "ok \xEF\xBF\xBD\n");

  // The bridge is still fine.
  EXPECT_EQ(bridge->command("premiere_plugin_info").at("success"), true);
}

TEST_F(Installer, AnAgentThatWaitsDoesNotHoldUpOtherRequests) {
  const fs::path release = root.path() / "release";
  // Waits (as UPIA may on a dialog) until the test lets it go; bounded so a failing test
  // cannot leave it behind for long.
  agent("i=0; while [ ! -e '" + release.string() +
        "' ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done; echo Installation successful\n");
  start();
  auto pending = std::async(std::launch::async, [&] { return install({{"cep", false}}); });
  for (int i = 0; i < 400 && !fs::exists(upia_calls); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ASSERT_TRUE(fs::exists(upia_calls));
  EXPECT_EQ(bridge->command("premiere_plugin_info").at("success"), true);
  EXPECT_EQ(bridge->command("premiere_readiness").at("success"), true);
  std::ofstream(release) << "";
  const json answer = pending.get();
  EXPECT_EQ(answer.at("success"), true) << answer.dump();
}

TEST_F(Installer, SettingsToolFailuresAreRecordedInOrder) {
  if (cep_helper_files().empty()) GTEST_SKIP() << "this build carries no CEP helper files";
  agent("echo Installation successful\n");
  write_script(bin / "defaults", "echo \"$*\" >> '" + defaults_calls.string() +
                                     "'\n[ \"$2\" = com.adobe.CSXS.11 ] && exit 3\nexit 0\n");
  start();
  json answer = install({{"cep", 0}});
  json modes = answer.at("cep").at("playerDebugMode");
  ASSERT_EQ(modes.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(modes[i].at("csxs"), 9 + i);
    EXPECT_EQ(modes[i].at("ok"), 9 + i != 11);
  }
  EXPECT_EQ(answer.at("cep").at("ok"), true);

  // No `defaults` at all (PATH holds only a folder without it): every version fails,
  // and the install itself still succeeds.
  const fs::path bare = root.path() / "bare";
  fs::create_directories(bare);
  bridge.reset();
  start({{"PATH", bare.string()}});
  answer = install({{"cep", "false"}});
  EXPECT_EQ(answer.at("success"), true);
  for (const json& mode : answer.at("cep").at("playerDebugMode")) EXPECT_EQ(mode.at("ok"), false);
}

TEST_F(Installer, UnwritableFoldersFailTheirOwnStepOnly) {
  agent("echo Installation successful\n");
  start();
  // A folder where the package goes: the package cannot be built; the CEP step still runs.
  fs::create_directories(ccx());
  json answer = install();
  EXPECT_EQ(answer.at("success"), false);
  EXPECT_EQ(answer.at("errorCode"), "ccx_build_failed");
  EXPECT_EQ(answer.at("uxp").at("errorCode"), "ccx_build_failed");
  EXPECT_NE(answer.at("uxp").at("error").get<std::string>().find(ccx().string()), std::string::npos);
  expect_cep_installed(answer);
  EXPECT_FALSE(fs::exists(upia_calls));
  fs::remove(ccx());

  // A file where the helper's CSXS folder goes: the copy fails, PlayerDebugMode is left
  // alone, and the UXP install's success stands.
  fs::remove_all(cep());
  fs::remove(defaults_calls);
  fs::create_directories(cep());
  std::ofstream(cep() / "CSXS") << "in the way";
  answer = install();
  EXPECT_EQ(answer.at("success"), true);
  EXPECT_EQ(answer.at("cep").at("ok"), false);
  EXPECT_EQ(answer.at("cep").at("errorCode"), "cep_copy_failed");
  EXPECT_FALSE(answer.at("cep").at("error").get<std::string>().empty());
  EXPECT_FALSE(fs::exists(defaults_calls));
}

}  // namespace
}  // namespace cutrelay::testing
