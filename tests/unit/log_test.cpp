#include "common/log.hpp"

#include <gtest/gtest.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include "common/async.hpp"
#include "hub/plugin_hub.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <string>

namespace cutrelay {
namespace {

TEST(LoggableJson, SmallValuesAreLoggedWholeCompactAndSorted) {
  const json hello = {{"type", "hello"}, {"runtime", "uxp"}, {"project", "P"}};
  EXPECT_EQ(loggable_json(hello), R"({"project":"P","runtime":"uxp","type":"hello"})");
}

TEST(LoggableJson, HugeValuesAreShortenedToValidJsonText) {
  json hello = {{"type", "hello"}, {"blob", std::string(1 << 20, 'x')}};
  for (int i = 0; i < 10000; ++i) hello["many"].push_back(i);
  json deep = json::array();
  for (int i = 0; i < 100; ++i) deep = json::array({deep});
  hello["deep"] = deep;
  const std::string text = loggable_json(hello);
  EXPECT_LE(text.size(), kMaxLoggedJson + 4);
  EXPECT_NE(text.find(R"("type":"hello")"), std::string::npos);  // members kept, in order
  EXPECT_TRUE(is_valid_utf8(text));
}

TEST(LoggableJson, CutsNeverSplitACharacter) {
  std::string accents;
  for (int i = 0; i < 3000; ++i) accents += "\xC3\xA9";
  const std::string text = loggable_json(json{{"a", accents}});
  EXPECT_TRUE(is_valid_utf8(text));
  EXPECT_LT(text.size(), 1000u);
}

// Standard error replaced by a pipe for the length of a test.
class StderrPipe {
 public:
  StderrPipe() {
    std::signal(SIGPIPE, SIG_IGN);  // as in the bridge
    if (::pipe(fds_) != 0) throw std::runtime_error("pipe");
    saved_ = ::dup(STDERR_FILENO);
    ::dup2(fds_[1], STDERR_FILENO);
  }
  ~StderrPipe() {
    flush_log();
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  int reader() const { return fds_[0]; }

 private:
  int fds_[2];
  int saved_;
};

TEST(Log, ImmediateLineArrivesInOneRead) {
  StderrPipe pipe;
  const std::string line(3000, 'a');
  write_line_now(line);
  std::string got(8192, '\0');
  const ssize_t n = ::read(pipe.reader(), got.data(), got.size());
  ASSERT_GT(n, 0);
  got.resize(static_cast<std::size_t>(n));
  EXPECT_EQ(got, line + "\n");
}

TEST(Log, FullPipeNeverHoldsTheCaller) {
  StderrPipe pipe;
  // Fill the pipe so that every further write would block.
  ::fcntl(STDERR_FILENO, F_SETFL, ::fcntl(STDERR_FILENO, F_GETFL) | O_NONBLOCK);
  const std::string chunk(4096, 'f');
  while (::write(STDERR_FILENO, chunk.data(), chunk.size()) > 0) {
  }
  ::fcntl(STDERR_FILENO, F_SETFL, ::fcntl(STDERR_FILENO, F_GETFL) & ~O_NONBLOCK);
  // Were logging synchronous, this would block on the first line: the test would hang.
  for (int i = 0; i < 5000; ++i) log_line("[cutrelay] line " + std::to_string(i));
  // Drain the pipe: whole lines come out, and the loss is reported.
  ::fcntl(pipe.reader(), F_SETFL, ::fcntl(pipe.reader(), F_GETFL) | O_NONBLOCK);
  std::string all;
  char buffer[65536];
  // Bounded: 10 s without a byte means the writer thread is stuck, a failure.
  for (int idle = 0; idle < 1000 && all.find("log lines dropped\n") == std::string::npos;) {
    const ssize_t n = ::read(pipe.reader(), buffer, sizeof buffer);
    if (n > 0) {
      all.append(buffer, static_cast<std::size_t>(n));
      idle = 0;
    } else {
      ++idle;
      ::usleep(10000);
    }
  }
  EXPECT_NE(all.find("[cutrelay] line 0\n[cutrelay] line 1\n"), std::string::npos);
  EXPECT_NE(all.find(" log lines dropped\n"), std::string::npos);
}

// When one of a plug-in connection's tasks ends, the others are cancelled; one that then
// awaits anything more ends with operation_aborted. That is how every connection ends,
// and used to be logged as "plug-in connection writer failed: Operation canceled".
TEST(Log, ConnectionTasksEndingByCancellationAreNoFailure) {
  namespace asio = boost::asio;
  using namespace asio::experimental::awaitable_operators;
  StderrPipe pipe;
  asio::io_context ioc;
  auto ends = []() -> asio::awaitable<void> {
    co_await asio::post(co_await asio::this_coro::executor, asio::use_awaitable);
  };
  auto cancelled_mid_work = []() -> asio::awaitable<void> {
    asio::steady_timer timer(co_await asio::this_coro::executor, std::chrono::hours(1));
    co_await timer.async_wait(nothrow);  // cut short by the cancellation
    co_await asio::post(co_await asio::this_coro::executor, asio::use_awaitable);  // throws
  };
  asio::co_spawn(ioc, [&]() -> asio::awaitable<void> {
    co_await (contained(ends(), "reader") || contained(cancelled_mid_work(), "writer"));
  }, asio::detached);
  ioc.run_for(std::chrono::seconds(5));
  log_line("[cutrelay] the end");
  flush_log();
  std::string got(8192, '\0');
  const ssize_t n = ::read(pipe.reader(), got.data(), got.size());
  ASSERT_GT(n, 0);
  got.resize(static_cast<std::size_t>(n));
  EXPECT_EQ(got, "[cutrelay] the end\n");
}

}  // namespace
}  // namespace cutrelay
