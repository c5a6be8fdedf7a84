#include "common/child_process.hpp"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_future.hpp>

#include "common/async.hpp"
#include "test_dir.hpp"

namespace cutrelay {
namespace {

namespace asio = boost::asio;

// Runs one task on a two-thread io_context (as the bridge does), with a deadline so a bug
// fails the test instead of hanging it.
template <typename T>
T run(asio::awaitable<T> task) {
  asio::io_context ioc;
  auto future = asio::co_spawn(ioc, std::move(task), asio::use_future);
  std::thread other([&] { ioc.run_for(std::chrono::seconds(60)); });
  ioc.run_for(std::chrono::seconds(60));
  other.join();
  return future.get();
}

ToolResult sh(const std::string& script, ToolOptions options = {}) {
  return run(run_tool("sh", {"-c", script}, options));
}

bool no_child_left() {
  int status = 0;
  return ::waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
}

TEST(RunTool, CapturesBothOutputsAndTheStatus) {
  const ToolResult r = sh("printf 'out\\n'; printf 'err' >&2; exit 3");
  EXPECT_TRUE(r.started);
  EXPECT_EQ(r.out, "out\n");
  EXPECT_EQ(r.err, "err");
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.signal, 0);
  EXPECT_FALSE(r.clean_exit());
  EXPECT_TRUE(sh("exit 0").clean_exit());
  EXPECT_TRUE(no_child_left());
}

TEST(RunTool, StandardInputIsEmptyAndLargeOutputDoesNotBlock) {
  const ToolResult r = sh("cat; head -c 1000000 /dev/zero");
  EXPECT_TRUE(r.clean_exit());
  EXPECT_EQ(r.out.size(), 1000000u);
}

TEST(RunTool, ASignalIsNotAnExitStatus) {
  const ToolResult r = sh("kill -9 $$");
  EXPECT_TRUE(r.started);
  EXPECT_EQ(r.signal, SIGKILL);
  EXPECT_EQ(r.exit_code, -1);
  EXPECT_FALSE(r.clean_exit());
}

TEST(RunTool, MissingOrUnstartableProgramsAreReported) {
  ToolResult r = run(run_tool("cutrelay-no-such-program", {}));
  EXPECT_FALSE(r.started);
  EXPECT_EQ(r.start_error, "cutrelay-no-such-program: not found");

  ScratchDir dir;
  dir.write("not-a-program", "no shebang, no exec bit");
  r = run(run_tool((dir.path / "not-a-program").string(), {}));
  EXPECT_FALSE(r.started);
  EXPECT_NE(r.start_error.find("not-a-program: "), std::string::npos);
  EXPECT_TRUE(no_child_left());
}

TEST(RunTool, TheChildGetsNoDescriptorOfOurs) {
  // A descriptor opened without close-on-exec (as some libraries do) stays here.
  const int fd = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(fd, 3);
  const ToolResult r = sh("ls /proc/self/fd 2>/dev/null || ls /dev/fd");
  ::close(fd);
  std::string listed = r.out;
  for (const char* keep : {"0\n", "1\n", "2\n"}) listed.erase(listed.find(keep), 2);
  // Left: at most the descriptor `ls` itself opened to read the folder.
  EXPECT_LE(std::count(listed.begin(), listed.end(), '\n'), 1) << r.out;
}

TEST(RunTool, TimeLimitKillsTheWholeGroup) {
  // The grandchild holds the output pipe open; only killing the group ends the wait.
  const ToolResult r =
      sh("sleep 30 & echo started; wait", ToolOptions{.time_limit = std::chrono::milliseconds(200)});
  EXPECT_TRUE(r.timed_out);
  EXPECT_EQ(r.out, "started\n");
  EXPECT_FALSE(r.clean_exit());
  EXPECT_TRUE(no_child_left());
}

TEST(RunTool, ManyAtOnceFromSeveralThreads) {
  // The futures are read on this thread while both worker threads run the children.
  asio::io_context ioc;
  std::vector<std::future<ToolResult>> results;
  for (int i = 0; i < 40; ++i) {
    results.push_back(asio::co_spawn(ioc, run_tool("sh", {"-c", "echo " + std::to_string(i)}),
                                     asio::use_future));
  }
  std::thread a([&] { ioc.run_for(std::chrono::seconds(60)); });
  std::thread b([&] { ioc.run_for(std::chrono::seconds(60)); });
  for (int i = 0; i < 40; ++i) {
    const ToolResult r = results[i].get();
    EXPECT_TRUE(r.clean_exit());
    EXPECT_EQ(r.out, std::to_string(i) + "\n");
  }
  a.join();
  b.join();
  EXPECT_TRUE(no_child_left());
}

TEST(StartDetached, TheChildIsReapedWithoutAWait) {
  ScratchDir dir;
  const auto marker = dir.path / "ran";
  asio::io_context ioc;
  auto started = asio::co_spawn(ioc, start_detached("sh", {"-c", "echo > '" + marker.string() + "'"}),
                                asio::use_future);
  ioc.run_for(std::chrono::seconds(30));  // returns once the reaper is done
  EXPECT_FALSE(started.get().has_value());
  EXPECT_TRUE(std::filesystem::exists(marker));
  EXPECT_TRUE(no_child_left());

  asio::io_context again;
  auto missing = asio::co_spawn(again, start_detached("cutrelay-no-such-program", {}),
                                asio::use_future);
  again.run_for(std::chrono::seconds(30));
  EXPECT_EQ(missing.get().value_or(""), "cutrelay-no-such-program: not found");
}

// Reads a pipe's read end until it ends.
std::string read_all(int fd) {
  std::string text;
  char chunk[256];
  ssize_t n;
  while ((n = ::read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<std::size_t>(n));
  ::close(fd);
  return text;
}

TEST(StartChild, TheChildGetsTheDescriptorsAndEnvironmentItIsGiven) {
  int in[2], err[2];
  ASSERT_TRUE(make_private_pipe(in));
  ASSERT_TRUE(make_private_pipe(err));
  // It reports its variable, then waits for its input to end, as the relay's children do.
  const StartedChild child = start_child(
      "sh", {"-c", "echo \"$CUTRELAY_T\" >&2; cat > /dev/null; echo done >&2"},
      ChildStdio{in[0], -1, err[1], {"CUTRELAY_T=given"}});
  ASSERT_GT(child.pid, 0) << child.error;
  ::close(in[0]);
  ::close(err[1]);
  EXPECT_TRUE(child_running(child.pid));
  ::close(in[1]);  // the only writing end: the child reads the end of its input
  EXPECT_EQ(read_all(err[0]), "given\ndone\n");
  end_child(child.pid, std::chrono::milliseconds(2000));
  EXPECT_FALSE(child_running(child.pid));
  EXPECT_TRUE(no_child_left());
  EXPECT_EQ(start_child("cutrelay-no-such-program", {}, {}).error, "cutrelay-no-such-program: not found");
}

TEST(StartChild, EndingAChildThatIgnoresSigtermKillsItAfterTheGrace) {
  const StartedChild stubborn = start_child("sh", {"-c", "trap '' TERM; while :; do sleep 1; done"}, {});
  ASSERT_GT(stubborn.pid, 0);
  const StartedChild polite = start_child("sleep", {"30"}, {});
  ASSERT_GT(polite.pid, 0);
  end_child(polite.pid, std::chrono::milliseconds(5000));
  end_child(stubborn.pid, std::chrono::milliseconds(100));
  EXPECT_FALSE(child_running(polite.pid));
  EXPECT_FALSE(child_running(stubborn.pid));
  EXPECT_TRUE(no_child_left());
}

}  // namespace
}  // namespace cutrelay
