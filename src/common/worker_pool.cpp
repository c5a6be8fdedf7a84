#include "common/worker_pool.hpp"

#include <thread>

namespace cutrelay {

namespace {
thread_local std::optional<unsigned> t_worker;
}

WorkerPool::WorkerPool(unsigned threads) {
  if (threads == 0) threads = 1;
  contexts_.reserve(threads);
  guards_.reserve(threads);
  for (unsigned i = 0; i < threads; ++i) {
    // A hint of 1: each context is only ever run by its own thread, which lets Asio keep
    // handlers posted from that thread in a private queue, without locking or waking.
    contexts_.push_back(std::make_unique<boost::asio::io_context>(1));
    // A context with no connection yet must not return from run().
    guards_.emplace_back(contexts_.back()->get_executor());
  }
}

void WorkerPool::run() {
  std::vector<std::thread> threads;
  threads.reserve(contexts_.size());
  for (unsigned i = 1; i < contexts_.size(); ++i) {
    threads.emplace_back([this, i] {
      t_worker = i;
      contexts_[i]->run();
    });
  }
  t_worker = 0;
  contexts_[0]->run();
  for (auto& thread : threads) thread.join();
  t_worker.reset();
}

std::optional<unsigned> WorkerPool::current() { return t_worker; }

unsigned WorkerPool::pick(std::optional<unsigned> preferred) {
  if (preferred && *preferred < size()) return *preferred;
  return turn_.fetch_add(1, std::memory_order_relaxed) % size();
}

}  // namespace cutrelay
