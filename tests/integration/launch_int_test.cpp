#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <thread>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "bridge_process.hpp"
#include "fake_plugin.hpp"
#include "http_client.hpp"

namespace cutrelay::testing {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

std::string exe_line(const std::string& name) {
  return "/Applications/" + name + "/" + name + ".app/Contents/MacOS/" + name;
}

class LaunchQuit : public ::testing::Test {
 protected:
  FakeHost host;
  std::unique_ptr<BridgeProcess> bridge;

  void SetUp() override { bridge = std::make_unique<BridgeProcess>(host.bridge_options()); }
  // `open` is left running by the bridge, so its record may come a moment after the answer.
  std::vector<Args> open_calls(std::size_t at_least = 1) {
    for (int i = 0; i < 1000 && host.calls("open").size() < at_least; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return host.calls("open");
  }
};

TEST_F(LaunchQuit, ChoosesTheInstallByYear) {
  json a = bridge->command("premiere_launch");
  EXPECT_EQ(a.at("errorCode"), "premiere_not_installed");
  EXPECT_EQ(a.at("error"), "No Adobe Premiere Pro install found.");
  EXPECT_EQ(a.at("installs"), json::array());

  const fs::path newest = host.install("Adobe Premiere Pro 2025");
  const fs::path older = host.install("Adobe Premiere Pro 2023");
  a = bridge->command("launch", {{"year", 2024}});
  EXPECT_EQ(a.at("errorCode"), "premiere_not_installed");
  EXPECT_EQ(a.at("installs").size(), 2u);
  EXPECT_EQ(a.at("installs")[0].at("year"), 2025);

  a = bridge->command("launch", {{"year", 2023}, {"wait", false}});
  EXPECT_EQ(a.at("success"), true);
  EXPECT_EQ(a.at("launched"), true);
  EXPECT_EQ(a.at("app"), older.string());
  EXPECT_EQ(a.at("year"), 2023);
  EXPECT_FALSE(a.contains("pluginConnected"));
  EXPECT_EQ(open_calls(), (std::vector<Args>{{"-a", older.string()}}));

  // A year of the wrong type counts as absent; the newest install is used.
  for (const json& year : {json("2023"), json(-1), json(2023.5)}) {
    a = bridge->command("launch", {{"year", year}, {"wait", false}, {"foreground", false},
                                   {"project", "/tmp/My \"Cut\".prproj"}});
    EXPECT_EQ(a.at("app"), newest.string()) << year;
  }
  EXPECT_EQ(open_calls(4).back(),
            (Args{"-g", "-a", newest.string(), "/tmp/My \"Cut\".prproj"}));
}

TEST_F(LaunchQuit, WaitsForThePluginAndPassesOnTheHint) {
  host.install("Adobe Premiere Pro 2025");
  json a = bridge->command("launch", {{"timeoutSec", 1}, {"foreground", "no"}});
  EXPECT_EQ(a.at("launched"), true);
  EXPECT_EQ(a.at("pluginConnected"), false);
  EXPECT_TRUE(a.at("_hint").is_string());
  EXPECT_EQ(open_calls().back().front(), "-a");  // only false means background

  // A plug-in that is there already: connected, and the catalog's own hint.
  FakePlugin uxp(bridge->port(), bridge->token());
  ASSERT_TRUE(uxp.wait_welcome());
  a = bridge->command("launch", {{"timeoutSec", 1}});
  EXPECT_EQ(a.at("pluginConnected"), true);
}

TEST_F(LaunchQuit, AlreadyRunning) {
  const fs::path bundle = host.install("Adobe Premiere Pro 2025");
  host.set_processes({exe_line("Adobe Premiere Pro 2025")});
  json a = bridge->command("launch", {{"project", "/p/a.prproj"}});
  EXPECT_EQ(a.at("success"), true);
  EXPECT_EQ(a.at("alreadyRunning"), true);
  EXPECT_EQ(a.at("app"), bundle.string());

  // With the plug-in connected the project is opened through the plug-in.
  FakePlugin uxp(bridge->port(), bridge->token());
  ASSERT_TRUE(uxp.wait_welcome());
  uxp.set_handler([](const json& call) { return FakePlugin::ok(call, {{"opened", call.at("args")}}); });
  a = bridge->command("launch", {{"project", "/p/a.prproj"}});
  EXPECT_EQ(a.at("opened"), json({{"path", "/p/a.prproj"}}));
  EXPECT_EQ(uxp.calls().back().at("verb"), "open_project");
  EXPECT_TRUE(host.calls("open").empty());
}

TEST_F(LaunchQuit, OpenThatCannotStart) {
  host.install("Adobe Premiere Pro 2025");
  host.set_tool("open", "");
  const json a = bridge->command("launch", {{"wait", false}});
  EXPECT_EQ(a.at("errorCode"), "launch_failed");
  EXPECT_TRUE(a.at("error").is_string());
}

TEST_F(LaunchQuit, QuitAsksEveryRunningVersion) {
  EXPECT_EQ(bridge->command("quit", {{"save", true}}), bridge->command("quit"));
  json a = bridge->command("quit", {{"save", true}});
  EXPECT_EQ(a.at("wasRunning"), false);
  EXPECT_TRUE(host.calls("osascript").empty());

  host.set_processes({exe_line("Adobe Premiere Pro 2025"), exe_line("Adobe Premiere Pro 2025"),
                      exe_line("Adobe Premiere Pro 2024")});
  FakePlugin uxp(bridge->port(), bridge->token());
  ASSERT_TRUE(uxp.wait_welcome());
  uxp.set_handler([](const json& call) { return FakePlugin::fail(call, "save_failed", "no"); });
  a = bridge->command("premiere_quit", {{"save", true}, {"force", true}});
  EXPECT_EQ(a.at("success"), true);
  EXPECT_EQ(a.at("quitRequested"), true);
  EXPECT_EQ(uxp.calls().back().at("verb"), "save_project");  // its failure did not matter
  EXPECT_EQ(host.calls("osascript").back(),
            (Args{"-e",
                  "tell application \"Adobe Premiere Pro 2025\" to quit\n"
                  "tell application \"Adobe Premiere Pro 2024\" to quit"}));
}

TEST_F(LaunchQuit, QuitFailures) {
  host.set_processes({exe_line("Adobe Premiere Pro 2025")});
  host.set_tool("osascript", "printf 'execution error: nope (-128)\\n\\377' >&2; exit 1\n");
  json a = bridge->command("quit");
  EXPECT_EQ(a.at("errorCode"), "quit_failed");
  EXPECT_EQ(a.at("error"), "execution error: nope (-128)\n\xEF\xBF\xBD");

  host.set_tool("osascript", "kill -9 $$\n");
  a = bridge->command("quit");
  EXPECT_EQ(a.at("errorCode"), "quit_failed");
  EXPECT_EQ(a.at("error"), "osascript was ended by signal 9");

  host.set_tool("osascript", "");
  a = bridge->command("quit");
  EXPECT_EQ(a.at("errorCode"), "quit_failed");
  EXPECT_EQ(a.at("error"), "osascript: not found");
}

TEST_F(LaunchQuit, HostileProcessNamesCannotRunAppleScript) {
  const std::string name = "Adobe Premiere Pro\" to quit\ndo shell script \"id";
  host.set_processes({"/tmp/x.app/Contents/MacOS/" + name.substr(0, name.find('\n')),
                      "/tmp/y.app/Contents/MacOS/Adobe Premiere Pro \xff\"x"});
  const json a = bridge->command("quit");
  EXPECT_EQ(a.at("quitRequested"), true);
  EXPECT_EQ(host.calls("osascript").back().at(1),
            "tell application \"Adobe Premiere Pro\\\" to quit\" to quit\n"
            "tell application \"Adobe Premiere Pro \xEF\xBF\xBD\\\"x\" to quit");
}

}  // namespace
}  // namespace cutrelay::testing

namespace cutrelay::testing {
namespace {

// The bridge's children still in the process table (running or not yet reaped).
std::vector<std::string> children_of(int pid) {
  std::vector<std::string> found;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string stat = read_text(entry.path() / "stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 2));
    std::string state;
    int ppid = 0;
    rest >> state >> ppid;
    if (ppid == pid) found.push_back(stat);
  }
  return found;
}

TEST(ChildPrograms, ManyAtOnceForManyRoundsLeaveNothingBehind) {
  if (!std::filesystem::exists("/proc/self/stat")) GTEST_SKIP() << "needs /proc";
  FakeHost host;
  host.install("Adobe Premiere Pro 2025");
  host.set_processes({exe_line("Adobe Premiere Pro 2025")});
  auto bridge = std::make_unique<BridgeProcess>(host.bridge_options());
  const std::uint16_t port = bridge->port();
  const std::vector<std::string> verbs = {"readiness", "quit", "status", "premiere_get_project"};
  std::atomic<int> answered{0};
  std::atomic<int> wrong{0};
  constexpr int kRounds = 30;
  constexpr int kClients = 8;
  for (int round = 0; round < kRounds; ++round) {
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
      clients.emplace_back([&, c] {
        const json a = bridge->command(verbs[c % verbs.size()]);
        ++answered;
        const bool ok = a.contains("success") &&
                        (a.at("success") == true || a.at("errorCode") == "plugin_not_connected");
        if (!ok) ++wrong;
      });
    }
    for (auto& t : clients) t.join();
  }
  EXPECT_EQ(answered, kRounds * kClients);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(host.calls("osascript").size(), static_cast<std::size_t>(kRounds * kClients / 4));
  // Every child was reaped: none is left running or as a zombie.
  std::vector<std::string> left;
  for (int i = 0; i < 200; ++i) {
    left = children_of(bridge->pid());
    if (left.empty()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(left.empty()) << left.front();

  // Once the bridge is gone, nothing holds its port.
  bridge->kill();
  boost::asio::io_context ioc;
  boost::asio::ip::tcp::acceptor acceptor(ioc);
  boost::system::error_code ec;
  acceptor.open(boost::asio::ip::tcp::v4(), ec);
  acceptor.set_option(boost::asio::socket_base::reuse_address(true), ec);
  acceptor.bind({boost::asio::ip::make_address("127.0.0.1"), port}, ec);
  EXPECT_FALSE(ec) << ec.message();
}

}  // namespace
}  // namespace cutrelay::testing
