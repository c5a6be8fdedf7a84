#pragma once
// A WorkerPool running on a thread of its own for the length of a test.
#include <future>
#include <thread>
#include <type_traits>
#include <utility>

#include <boost/asio/post.hpp>

#include "common/worker_pool.hpp"

namespace cutrelay {

struct RunningPool {
  WorkerPool pool;
  std::thread runner;

  explicit RunningPool(unsigned n) : pool(n), runner([this] { pool.run(); }) {}
  ~RunningPool() {
    for (unsigned i = 0; i < pool.size(); ++i) pool.context(i).stop();
    runner.join();
  }

  // Runs `work` on worker `index` and returns its result once it has run.
  template <typename F>
  auto run_on(unsigned index, F work) {
    using R = decltype(work());
    std::promise<R> done;
    boost::asio::post(pool.context(index), [&] {
      if constexpr (std::is_void_v<R>) {
        work();
        done.set_value();
      } else {
        done.set_value(work());
      }
    });
    return done.get_future().get();
  }
};

}  // namespace cutrelay
