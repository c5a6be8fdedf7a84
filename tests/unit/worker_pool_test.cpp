#include <gtest/gtest.h>

#include <future>
#include <set>
#include <stdexcept>
#include <thread>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/post.hpp>

#include "common/blocking.hpp"
#include "running_pool.hpp"

namespace cutrelay {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;

TEST(WorkerPool, EachContextRunsOnItsOwnThreadAndKnowsItsIndex) {
  RunningPool running(3);
  std::set<std::thread::id> threads;
  for (unsigned i = 0; i < 3; ++i) {
    std::promise<std::pair<std::optional<unsigned>, std::thread::id>> seen;
    asio::post(running.pool.context(i), [&seen] {
      seen.set_value({WorkerPool::current(), std::this_thread::get_id()});
    });
    auto result = seen.get_future();
    ASSERT_EQ(result.wait_for(5s), std::future_status::ready) << "context " << i << " idle";
    const auto [index, thread] = result.get();
    EXPECT_EQ(index, i);
    threads.insert(thread);
  }
  EXPECT_EQ(threads.size(), 3u);
  EXPECT_FALSE(WorkerPool::current());  // not a worker thread
}

TEST(WorkerPool, WorkPostedAcrossContextsRunsOnTheTarget) {
  RunningPool running(2);
  std::promise<std::optional<unsigned>> landed;
  asio::post(running.pool.context(0), [&] {
    asio::post(running.pool.context(1), [&] { landed.set_value(WorkerPool::current()); });
  });
  auto result = landed.get_future();
  ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(result.get(), 1u);
}

TEST(WorkerPool, AHandlerThatThrowsDoesNotStopItsWorker) {
  RunningPool running(2);
  std::promise<std::optional<unsigned>> after;
  asio::post(running.pool.context(1), [] { throw std::runtime_error("boom"); });
  asio::post(running.pool.context(1), [&] { after.set_value(WorkerPool::current()); });
  auto result = after.get_future();
  ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(result.get(), 1u);
}

// Blocking work hands its result, or the exception it threw, back to the worker that asked.
TEST(WorkerPool, BlockingWorkReturnsOrThrowsInItsCaller) {
  RunningPool running(2);
  struct Seen {
    int value = 0;
    std::string error;
    std::optional<unsigned> worker;
  };
  std::promise<Seen> seen;
  asio::co_spawn(
      running.pool.context(1),
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
        out.worker = WorkerPool::current();
        seen.set_value(out);
      },
      asio::detached);
  auto result = seen.get_future();
  ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
  const Seen out = result.get();
  EXPECT_EQ(out.value, 42);
  EXPECT_EQ(out.error, "too big");
  EXPECT_EQ(out.worker, 1u);
}

TEST(WorkerPool, PickPrefersAValidWorkerElseTakesTurns) {
  WorkerPool pool(3);
  EXPECT_EQ(pool.pick(2u), 2u);
  EXPECT_EQ(pool.pick(2u), 2u);
  std::multiset<unsigned> turns;
  for (int i = 0; i < 6; ++i) turns.insert(pool.pick(std::nullopt));
  EXPECT_EQ(turns, (std::multiset<unsigned>{0, 0, 1, 1, 2, 2}));
  // A worker the pool does not have counts as no preference.
  for (int i = 0; i < 3; ++i) EXPECT_LT(pool.pick(7u), 3u);
}

}  // namespace
}  // namespace cutrelay
