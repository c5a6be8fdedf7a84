#include "installer/plugin_installer.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>

#include "common/install_record.hpp"
#include "test_dir.hpp"

namespace cutrelay {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(ToolOutcome, OutputIsStdoutThenStderrValidAndTrimmed) {
  ToolResult run;
  run.started = true;
  run.exit_code = 0;
  run.out = "\n  installing\n";
  run.err = "warning \t\r\n";
  EXPECT_EQ(tool_outcome(run).output, "installing\nwarning");
  EXPECT_TRUE(tool_outcome(run).ok);

  // A character split across the two streams is two invalid sequences, not one character.
  run.out = "\xE2\x82";
  run.err = "\xAC";
  EXPECT_EQ(tool_outcome(run).output, "\xEF\xBF\xBD\xEF\xBF\xBD");

  run.exit_code = 2;
  EXPECT_FALSE(tool_outcome(run).ok);
  run.exit_code = -1;
  run.signal = 9;  // killed: no exit status at all
  EXPECT_FALSE(tool_outcome(run).ok);

  ToolResult not_started;
  not_started.start_error = "/x/UnifiedPluginInstallerAgent: Permission denied";
  EXPECT_FALSE(tool_outcome(not_started).ok);
  EXPECT_EQ(tool_outcome(not_started).output, not_started.start_error);
}

TEST(UpiaOutcome, ItsOwnWordsCountForMoreThanItsExitStatus) {
  EXPECT_TRUE(upia_install_succeeded(true, ""));
  EXPECT_TRUE(upia_install_succeeded(true, "Done."));
  EXPECT_FALSE(upia_install_succeeded(false, "Done."));
  EXPECT_TRUE(upia_install_succeeded(false, "Plugin SUCCESSFULLY INSTALLED"));
  EXPECT_TRUE(upia_install_succeeded(false, "Installation Successful"));
  EXPECT_TRUE(upia_install_succeeded(true, "1 error, but installation successful"));
  EXPECT_FALSE(upia_install_succeeded(true, "0 Errors"));
  EXPECT_FALSE(upia_install_succeeded(true, "FAILED to verify signature"));
  EXPECT_FALSE(upia_install_succeeded(true, "installation failed"));
  EXPECT_FALSE(upia_install_succeeded(false, "installed successfully"));  // not the phrase
}

// Stand-in helper files, so the copy is tested whatever this build embeds.
const EmbeddedFile kStandIn[] = {
    {"CSXS/manifest.xml", "<ExtensionManifest/>"},
    {"extra/notes.txt", "more"},
    {"host.jsx", "function quor_json(v) {}"},
    {"index.html", "<html></html>"},
    {"main.js", "// helper"},
};

TEST(CepCopy, WritesEveryFileReplacingOldOnes) {
  ScratchDir dir;
  const fs::path helper = dir.path / "extensions" / "inc.quor.premiere.cep";
  std::ofstream(dir.path / "placeholder");
  fs::create_directories(helper / "CSXS");
  std::ofstream(helper / "main.js") << std::string(10000, 'x');  // longer than the new one
  ASSERT_EQ(write_cep_helper(helper, kStandIn), std::nullopt);
  for (const EmbeddedFile& f : kStandIn) EXPECT_EQ(slurp(helper / fs::path(f.path)), f.bytes);

  EXPECT_NE(write_cep_helper(helper, {}), std::nullopt);  // nothing to install is a failure
}

// Links planted at the helper's folder, a subfolder or a file are replaced, never
// followed: what they point at stays as it was.
TEST(CepCopy, LinksAreReplacedNotFollowed) {
  ScratchDir dir;
  const fs::path helper = dir.path / "inc.quor.premiere.cep";
  const fs::path elsewhere = dir.path / "elsewhere";
  fs::create_directories(elsewhere / "CSXS");
  std::ofstream(elsewhere / "target.txt") << "keep me";
  fs::create_directory_symlink(elsewhere, helper);
  ASSERT_EQ(write_cep_helper(helper, kStandIn), std::nullopt);
  EXPECT_FALSE(fs::is_symlink(helper));
  EXPECT_FALSE(fs::exists(elsewhere / "main.js"));
  EXPECT_FALSE(fs::exists(elsewhere / "CSXS" / "manifest.xml"));

  fs::remove(helper / "main.js");
  fs::create_symlink(elsewhere / "target.txt", helper / "main.js");
  fs::remove_all(helper / "CSXS");
  fs::create_directory_symlink(elsewhere / "CSXS", helper / "CSXS");
  ASSERT_EQ(write_cep_helper(helper, kStandIn), std::nullopt);
  EXPECT_EQ(slurp(elsewhere / "target.txt"), "keep me");
  EXPECT_FALSE(fs::exists(elsewhere / "CSXS" / "manifest.xml"));
  EXPECT_EQ(slurp(helper / "main.js"), "// helper");
  EXPECT_EQ(slurp(helper / "CSXS" / "manifest.xml"), "<ExtensionManifest/>");
}

TEST(CepCopy, FirstFailureStopsTheCopyInTableOrder) {
  ScratchDir dir;
  const fs::path helper = dir.path / "inc.quor.premiere.cep";
  fs::create_directories(helper / "main.js");  // a folder where the third file goes
  const auto error = write_cep_helper(helper, kStandIn);
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("main.js"), std::string::npos) << *error;
  EXPECT_TRUE(fs::exists(helper / "CSXS/manifest.xml"));  // written before, and kept
  EXPECT_TRUE(fs::exists(helper / "index.html"));
  EXPECT_FALSE(fs::exists(helper / "host.jsx"));           // after: never reached
  EXPECT_FALSE(fs::exists(helper / "extra"));
}

// The CEP step with a fake `defaults` first on PATH, run on an io_context.
class CepStep : public ::testing::Test {
 protected:
  ScratchDir dir;
  fs::path calls = dir.path / "calls";
  std::string old_path = ::getenv("PATH") ? ::getenv("PATH") : "";

  void SetUp() override {
    dir.write("bin/defaults",
              "#!/bin/sh\necho \"$*\" >> '" + calls.string() + "'\n[ \"$2\" = com.adobe.CSXS.9 ]\n");
    fs::permissions(dir.path / "bin/defaults", fs::perms::owner_all);
    ::setenv("PATH", (dir.path / "bin").c_str(), 1);
  }
  void TearDown() override { ::setenv("PATH", old_path.c_str(), 1); }

  json run(const fs::path& helper) {
    boost::asio::io_context ioc;
    auto result = boost::asio::co_spawn(ioc, install_cep_helper(helper, kStandIn),
                                        boost::asio::use_future);
    ioc.run();
    return result.get();
  }
};

TEST_F(CepStep, SetsPlayerDebugModeForEachVersionInOrder) {
  const json result = run(dir.path / "helper");
  EXPECT_EQ(result.at("ok"), true);
  EXPECT_EQ(result.at("dir"), (dir.path / "helper").string());
  EXPECT_EQ(result.at("playerDebugMode"),
            json::parse(R"([{"csxs":9,"ok":true},{"csxs":10,"ok":false},{"csxs":11,"ok":false},
                            {"csxs":12,"ok":false},{"csxs":13,"ok":false}])"));
  EXPECT_EQ(slurp(calls),
            "write com.adobe.CSXS.9 PlayerDebugMode 1\nwrite com.adobe.CSXS.10 PlayerDebugMode 1\n"
            "write com.adobe.CSXS.11 PlayerDebugMode 1\nwrite com.adobe.CSXS.12 PlayerDebugMode 1\n"
            "write com.adobe.CSXS.13 PlayerDebugMode 1\n");
}

TEST_F(CepStep, ACopyFailureLeavesThePreferencesAlone) {
  dir.write("helper/CSXS", "a file in the way");
  const json result = run(dir.path / "helper");
  EXPECT_EQ(result.at("ok"), false);
  EXPECT_EQ(result.at("errorCode"), "cep_copy_failed");
  EXPECT_NE(result.at("error").get<std::string>().find("CSXS"), std::string::npos);
  EXPECT_FALSE(fs::exists(calls));
}

TEST(InstallRecord, MalformedRecordsGiveNoVersion) {
  ScratchDir dir;
  dir.write("plugin-installed.json", "");
  EXPECT_EQ(installed_plugin_version(dir.path), std::nullopt);
  dir.write("plugin-installed.json", "42");
  EXPECT_EQ(installed_plugin_version(dir.path), std::nullopt);
  dir.write("plugin-installed.json", R"({"version":"0.1.0","uxp":{"ok":true}})");
  EXPECT_EQ(installed_plugin_version(dir.path), "0.1.0");
}

}  // namespace
}  // namespace cutrelay
