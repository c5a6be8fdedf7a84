#include "common/event_loop.hpp"

#include <gtest/gtest.h>

#include <future>
#include <latch>
#include <memory>
#include <stdexcept>
#include <thread>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>

#include "common/blocking.hpp"

namespace cutrelay {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;

// Returns once every thread of the blocking pool has finished what it was running. A pool
// thread that handed a result back may still be inside the io_context's wake-up call after
// the caller has resumed; the io_context must outlive that call.
void wait_until_the_pool_is_idle() {
  // Each task holds its thread until all have started, so all threads run one each.
  auto started = std::make_shared<std::latch>(kBlockingThreads + 1);
  for (int i = 0; i < kBlockingThreads; ++i) {
    asio::post(blocking_pool(), [started] { started->arrive_and_wait(); });
  }
  started->arrive_and_wait();
}

// The bridge's io_context on a thread of its own for the length of a test.
struct RunningLoop {
  asio::io_context ioc{1};
  asio::executor_work_guard<asio::io_context::executor_type> keep{ioc.get_executor()};
  std::thread runner{[this] { run_until_stopped(ioc); }};
  ~RunningLoop() {
    ioc.stop();
    runner.join();
    wait_until_the_pool_is_idle();
  }
};

TEST(EventLoop, AHandlerThatThrowsDoesNotStopTheLoop) {
  RunningLoop loop;
  std::promise<std::thread::id> after;
  asio::post(loop.ioc, [] { throw std::runtime_error("boom"); });
  asio::post(loop.ioc, [&] { after.set_value(std::this_thread::get_id()); });
  auto result = after.get_future();
  ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(result.get(), loop.runner.get_id());
}

// Blocking work hands its result, or the exception it threw, back to the thread that asked.
TEST(EventLoop, BlockingWorkReturnsOrThrowsInItsCaller) {
  RunningLoop loop;
  struct Seen {
    int value = 0;
    std::string error;
    std::thread::id thread;
  };
  std::promise<Seen> seen;
  asio::co_spawn(
      loop.ioc,
      [&]() -> asio::awaitable<void> {
        Seen out;
        const auto answer = [] { return 42; };
        out.value = co_await run_blocking(answer);
        const auto fails = []() -> int { throw std::length_error("too big"); };
        try {
          co_await run_blocking(fails);
        } catch (const std::length_error& e) {
          out.error = e.what();
        }
        out.thread = std::this_thread::get_id();
        seen.set_value(out);
      },
      asio::detached);
  auto result = seen.get_future();
  ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
  const Seen out = result.get();
  EXPECT_EQ(out.value, 42);
  EXPECT_EQ(out.error, "too big");
  EXPECT_EQ(out.thread, loop.runner.get_id());
}

}  // namespace
}  // namespace cutrelay
