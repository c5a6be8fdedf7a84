#pragma once
// The bridge's worker threads: one io_context per thread, each run by exactly that thread.
// Everything a connection does runs on the context it was placed on, so its handlers need
// no strand and its wake-ups stay on one core; work crosses to another context only by
// being posted there (a call queued for a plug-in that lives elsewhere, its result coming
// back).
#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

namespace cutrelay {

class WorkerPool {
 public:
  explicit WorkerPool(unsigned threads);
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  unsigned size() const { return static_cast<unsigned>(contexts_.size()); }
  boost::asio::io_context& context(unsigned index) { return *contexts_.at(index); }

  // Runs every context until it is stopped: context 0 on the calling thread, the others on
  // threads of their own, joined before this returns.
  void run();

  // Makes run() return once each worker has finished the handler it is running; what is
  // still pending stays with its context, destroyed with the pool. Safe from any thread.
  void stop();

  // The index of the worker running the calling thread; nothing outside the pool's threads.
  static std::optional<unsigned> current();

  // Where new work goes: `preferred` when it names a worker of this pool, otherwise each
  // worker in turn.
  unsigned pick(std::optional<unsigned> preferred);

 private:
  using Guard = boost::asio::executor_work_guard<boost::asio::io_context::executor_type>;
  std::vector<std::unique_ptr<boost::asio::io_context>> contexts_;
  std::vector<Guard> guards_;
  std::atomic<unsigned> turn_{0};
};

}  // namespace cutrelay
