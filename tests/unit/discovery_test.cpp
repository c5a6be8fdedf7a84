#include "host/discovery.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

#include "test_dir.hpp"

namespace cutrelay {
namespace {

void add_app(const ScratchDir& apps, const std::string& folder, bool with_bundle = true) {
  std::filesystem::create_directories(apps.path / folder);
  if (with_bundle) std::filesystem::create_directories(apps.path / folder / (folder + ".app"));
}

TEST(Installs, YearFromDigitsAfterThePrefix) {
  EXPECT_EQ(install_year("Adobe Premiere Pro 2025"), 2025u);
  EXPECT_EQ(install_year("Adobe Premiere Pro 2024 (Beta)"), 2024u);
  EXPECT_EQ(install_year("Adobe Premiere Pro"), 0u);
  EXPECT_EQ(install_year("Adobe Premiere Pro 25.1"), 251u);
  EXPECT_EQ(install_year("Adobe Premiere Pro Beta"), 0u);
  EXPECT_EQ(install_year("Adobe Premiere Pro 99999999999"), 0u);  // does not fit 32 bits
  EXPECT_EQ(install_year("Adobe Premiere Pro 4294967295"), 4294967295u);
}

TEST(Installs, NewestFirstBetaLastBundleRequired) {
  ScratchDir apps;
  add_app(apps, "Adobe Premiere Pro 2023");
  add_app(apps, "Adobe Premiere Pro (Beta)");
  add_app(apps, "Adobe Premiere Pro 2025");
  add_app(apps, "Adobe Premiere Pro 2024", false);  // folder without its .app
  add_app(apps, "adobe premiere pro 2026");         // prefix is case-sensitive
  add_app(apps, "Adobe After Effects 2025");
  apps.write("Adobe Premiere Pro 2027", "a file, not a folder");
  const auto installs = find_premiere_installs(apps.path);
  ASSERT_EQ(installs.size(), 3u);
  EXPECT_EQ(installs[0].year, 2025u);
  EXPECT_EQ(installs[0].app,
            (apps.path / "Adobe Premiere Pro 2025" / "Adobe Premiere Pro 2025.app").string());
  EXPECT_EQ(installs[1].year, 2023u);
  EXPECT_EQ(installs[2].year, 0u);
  const json listed = installs_to_json(installs);
  EXPECT_EQ(listed[0].at("year"), 2025);
  EXPECT_EQ(listed[0].size(), 2u);
}

TEST(Installs, EqualYearsKeepListingOrder) {
  ScratchDir apps;
  add_app(apps, "Adobe Premiere Pro 2025 A");
  add_app(apps, "Adobe Premiere Pro 2025 B");
  std::vector<std::string> listed;
  for (const auto& e : std::filesystem::directory_iterator(apps.path)) {
    listed.push_back((e.path() / (e.path().filename().string() + ".app")).string());
  }
  const auto installs = find_premiere_installs(apps.path);
  ASSERT_EQ(installs.size(), 2u);
  EXPECT_EQ(installs[0].app, listed[0]);
  EXPECT_EQ(installs[1].app, listed[1]);
}

TEST(Installs, MissingFolderGivesNothing) {
  EXPECT_TRUE(find_premiere_installs("/nonexistent/Applications").empty());
}

TEST(Processes, KeepsBundleExecutablesOnly) {
  const std::string bundle =
      "/Applications/Adobe Premiere Pro 2025/Adobe Premiere Pro 2025.app/Contents/MacOS/Adobe "
      "Premiere Pro 2025";
  const std::string out = "/sbin/launchd\n" + bundle + "\r\n" +
                          "/usr/local/bin/Adobe Premiere Pro helper\n" +
                          "/Applications/Adobe Premiere Pro 2025/Adobe Premiere Pro 2025.app/"
                          "Contents/MacOS/CEPHtmlEngine\n" +
                          "Adobe Premiere Pro\n" + bundle;  // last line without a line end
  const auto lines = premiere_process_lines(out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], bundle);  // carriage return removed
  EXPECT_EQ(lines[1], bundle);
  EXPECT_TRUE(premiere_process_lines("").empty());
  // A carriage return that does not precede a line feed stays part of the line.
  EXPECT_EQ(premiere_process_lines(bundle + "\r")[0], bundle + "\r");
}

TEST(Processes, InvalidUtf8IsReplacedNotDropped) {
  const auto lines = premiere_process_lines(
      "/A/Contents/MacOS/Adobe Premiere Pro \xFF\n");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "/A/Contents/MacOS/Adobe Premiere Pro \xEF\xBF\xBD");
}

TEST(Installs, WindowsExecutableNameInAnyCaseAndNothingElse) {
  EXPECT_TRUE(is_premiere_executable_name("Adobe Premiere Pro.exe"));
  EXPECT_TRUE(is_premiere_executable_name("ADOBE PREMIERE PRO.EXE"));
  EXPECT_FALSE(is_premiere_executable_name("Adobe Premiere Pro.exe "));
  EXPECT_FALSE(is_premiere_executable_name("Adobe Premiere Pro 2025.exe"));
  EXPECT_FALSE(is_premiere_executable_name("Adobe Premiere Pro"));
  EXPECT_FALSE(is_premiere_executable_name(""));
}

TEST(Home, FallsBackFromHomeToUserProfileToTemp) {
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  ::setenv("HOME", "/h", 1);
  EXPECT_EQ(home_dir(), std::filesystem::path("/h"));
  ::unsetenv("HOME");
  ::setenv("USERPROFILE", "/profile", 1);
  EXPECT_EQ(home_dir(), std::filesystem::path("/profile"));
  ::unsetenv("USERPROFILE");
  EXPECT_EQ(home_dir(), std::filesystem::temp_directory_path());
  ::setenv("HOME", home.c_str(), 1);
}

}  // namespace
}  // namespace cutrelay

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>

namespace cutrelay {
namespace {

TEST(PremiereProcesses, CallsThatOverlapShareOneRun) {
  ScratchDir dir;
  const auto count = dir.path / "runs";
  dir.write("bin/ps", "#!/bin/sh\necho run >> '" + count.string() +
                          "'\necho '/A/x.app/Contents/MacOS/Adobe Premiere Pro 2025'\n");
  std::filesystem::permissions(dir.path / "bin/ps", std::filesystem::perms::owner_all);
  const std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", (dir.path / "bin").c_str(), 1);

  // On one thread every task starts before the first `ps` can finish, so all but the first
  // join its run.
  boost::asio::io_context ioc;
  std::vector<std::future<std::vector<std::string>>> results;
  for (int i = 0; i < 5; ++i) {
    results.push_back(boost::asio::co_spawn(ioc, premiere_processes(), boost::asio::use_future));
  }
  ioc.run_for(std::chrono::seconds(30));
  for (auto& r : results) EXPECT_EQ(r.get().size(), 1u);
  auto runs = [&count] {
    std::ifstream in(count);
    return std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n');
  };
  EXPECT_EQ(runs(), 1);

  // A later call looks afresh.
  boost::asio::io_context again;
  auto later = boost::asio::co_spawn(again, premiere_processes(), boost::asio::use_future);
  again.run_for(std::chrono::seconds(30));
  EXPECT_EQ(later.get().size(), 1u);
  EXPECT_EQ(runs(), 2);
  ::setenv("PATH", old_path.c_str(), 1);
}

}  // namespace
}  // namespace cutrelay
