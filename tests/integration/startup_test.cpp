#include <sys/stat.h>

#include <csignal>

#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "bridge_process.hpp"
#include "http_client.hpp"

namespace cutrelay::testing {
namespace {

namespace fs = std::filesystem;

unsigned mode_of(const fs::path& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 0777;
}

TEST(Startup, AnnouncesItselfAndWritesTheConnectionFile) {
  BridgeProcess bridge;
  ASSERT_NE(bridge.port(), 0);
  EXPECT_EQ(bridge.stderr_text(), "[cutrelay 0.1.0] listening on 127.0.0.1:" +
                                      std::to_string(bridge.port()) +
                                      " data=" + bridge.data_dir().string() + "\n");
  EXPECT_EQ(bridge.stdout_text(), "");

  const fs::path file = bridge.data_dir() / "connection.json";
  const std::string text = read_text(file);
  const json info = json::parse(text);
  EXPECT_EQ(info.at("port"), bridge.port());
  EXPECT_EQ(info.at("pid"), bridge.pid());
  EXPECT_EQ(info.at("token").get<std::string>().size(), 48u);
  EXPECT_EQ(info.at("token"), read_text(bridge.data_dir() / "token"));
  EXPECT_EQ(info.at("url"), "ws://127.0.0.1:" + std::to_string(bridge.port()) +
                                "/ws?token=" + info.at("token").get<std::string>());
  EXPECT_EQ(text, info.dump(2));  // sorted, two spaces, no line end after the brace
  EXPECT_EQ(mode_of(file), 0600u);
  EXPECT_EQ(mode_of(bridge.data_dir() / "token"), 0600u);
}

TEST(Startup, VersionExitsBeforeAnythingIsCreated) {
  BridgeProcess bridge({.args = {"--version", "--port", "9000"}, .wait_for_start = false});
  EXPECT_EQ(bridge.wait_exit(std::chrono::seconds(10)), 0);
  EXPECT_EQ(bridge.stdout_text(), "cutrelay 0.1.0\n");
  EXPECT_EQ(bridge.stderr_text(), "");
  EXPECT_FALSE(fs::exists(bridge.home() / ".quor"));
}

TEST(Startup, HelpPrintsTheUsageAndCreatesNothing) {
  for (const char* option : {"--help", "-h"}) {
    BridgeProcess bridge({.args = {option, "--port", "9000"}, .wait_for_start = false});
    EXPECT_EQ(bridge.wait_exit(std::chrono::seconds(10)), 0) << option;
    const std::string usage = bridge.stdout_text();
    EXPECT_TRUE(usage.starts_with("usage: cutrelay")) << usage;
    for (const char* named : {"--port", "QUOR_BIND_HOST", "connection.json"})
      EXPECT_NE(usage.find(named), std::string::npos) << named;
    EXPECT_EQ(bridge.stderr_text(), "");
    EXPECT_FALSE(fs::exists(bridge.home() / ".quor")) << option;
  }
}

// Plug-ins dial whatever connection.json names: after an interrupt or terminate it must not
// name a dead port, unless another bridge has written the file since.
TEST(Startup, StopSignalsTakeBackTheConnectionFileWhenItIsStillOurs) {
  {
    BridgeProcess bridge;
    const fs::path file = bridge.data_dir() / "connection.json";
    ASSERT_TRUE(fs::exists(file));
    ::kill(bridge.pid(), SIGTERM);
    EXPECT_EQ(bridge.wait_exit(std::chrono::seconds(10)), 128 + SIGTERM);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(fs::exists(bridge.data_dir() / "token"));
  }
  {
    BridgeProcess bridge;
    const fs::path file = bridge.data_dir() / "connection.json";
    json other = json::parse(read_text(file));
    other["pid"] = bridge.pid() + 100000;
    std::ofstream(file, std::ios::trunc) << other.dump(2);
    ::kill(bridge.pid(), SIGINT);
    EXPECT_EQ(bridge.wait_exit(std::chrono::seconds(10)), 128 + SIGINT);
    EXPECT_EQ(json::parse(read_text(file)), other);
  }
}

TEST(Startup, VersionConsumedAsPortValueIsNotSeen) {
  BridgeProcess bridge({.args = {"--port", "--version"}});
  EXPECT_NE(bridge.port(), 0);
  EXPECT_EQ(bridge.stdout_text(), "");
}

TEST(Startup, PortOptions) {
  const std::uint16_t wanted = free_port();
  {
    BridgeProcess bridge({.args = {"--port=+" + std::to_string(wanted)}});
    EXPECT_EQ(bridge.port(), wanted);
    EXPECT_EQ(json::parse(read_text(bridge.data_dir() / "connection.json")).at("port"), wanted);
  }
  {
    BridgeProcess bridge({.args = {"--port", "9", "--port=" + std::to_string(wanted)}});
    EXPECT_EQ(bridge.port(), wanted);
  }
  for (const char* ephemeral : {"--port=65536", "--port=-1", "--port=abc", "--ports=80"}) {
    BridgeProcess bridge({.args = {ephemeral}});
    EXPECT_NE(bridge.port(), 0) << ephemeral;
    EXPECT_NE(bridge.port(), 65535) << ephemeral;
  }
}

TEST(Startup, TokenKeptAcrossRestartsWhenLongEnough) {
  TempDir home;
  fs::create_directories(home.path() / ".quor" / "cutrelay");
  const std::string forty(40, 'T');
  std::ofstream(home.path() / ".quor" / "cutrelay" / "token") << forty << "\n";
  {
    BridgeProcess bridge({.home = home.path()});
    EXPECT_EQ(bridge.token(), forty);
  }
  std::ofstream(home.path() / ".quor" / "cutrelay" / "token") << std::string(31, 's');
  std::string replaced;
  {
    BridgeProcess bridge({.home = home.path()});
    replaced = bridge.token();
    EXPECT_EQ(replaced.size(), 48u);
  }
  BridgeProcess again({.home = home.path()});
  EXPECT_EQ(again.token(), replaced);
}

TEST(Startup, BindFailureStopsWith101AndLeavesTheConnectionFile) {
  BridgeProcess first;
  const std::string before = read_text(first.data_dir() / "connection.json");
  BridgeProcess second({.args = {"--port", std::to_string(first.port())},
                        .wait_for_start = false,
                        .home = first.home()});
  EXPECT_EQ(second.wait_exit(std::chrono::seconds(10)), 101);
  const std::string err = second.stderr_text();
  EXPECT_TRUE(std::regex_match(
      err, std::regex("bind 127\\.0\\.0\\.1:" + std::to_string(first.port()) +
                      ": Address already in use \\(os error \\d+\\)\n")))
      << err;
  EXPECT_EQ(read_text(first.data_dir() / "connection.json"), before);
}

TEST(Startup, UnresolvableHostStopsWith101) {
  BridgeProcess bridge({.env = {{"QUOR_BIND_HOST", "no-such-host.invalid"}}, .wait_for_start = false});
  ASSERT_EQ(bridge.wait_exit(std::chrono::seconds(30)), 101);
  EXPECT_TRUE(bridge.stderr_text().starts_with("bind no-such-host.invalid:0: ")) << bridge.stderr_text();
  EXPECT_FALSE(fs::exists(bridge.home() / ".quor"));
}

TEST(Startup, BindHostShownAsConfiguredButUrlStaysLoopback) {
  BridgeProcess bridge({.env = {{"QUOR_BIND_HOST", "0.0.0.0"}}});
  EXPECT_NE(bridge.stderr_text().find("listening on 0.0.0.0:"), std::string::npos);
  const json info = json::parse(read_text(bridge.data_dir() / "connection.json"));
  EXPECT_TRUE(info.at("url").get<std::string>().starts_with("ws://127.0.0.1:"));
  EXPECT_EQ(post_command(bridge.port(), {{"command", "describe"}}).at("success"), true);
}

TEST(Startup, NamedHostIsResolved) {
  BridgeProcess bridge({.env = {{"QUOR_BIND_HOST", "localhost"}}});
  EXPECT_NE(bridge.stderr_text().find("listening on localhost:"), std::string::npos);
}

TEST(Startup, UnusableStateDirectoryStillServes) {
  // HOME names a file, so nothing can be created under it (whoever runs the test).
  TempDir dir;
  const fs::path home = dir.path() / "a-file";
  std::ofstream(home) << "x";
  BridgeProcess bridge({.home = home});
  EXPECT_EQ(post_command(bridge.port(), {{"command", "describe"}}).at("success"), true);
}

}  // namespace
}  // namespace cutrelay::testing
