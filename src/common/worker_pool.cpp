#include "common/worker_pool.hpp"

#include <exception>
#include <string>
#include <thread>

#include <boost/asio/steady_timer.hpp>

#include "common/log.hpp"

namespace cutrelay {

namespace {
thread_local std::optional<unsigned> t_worker;

// Runs `context` until it is stopped. A handler that throws ends only what it was doing:
// the worker logs it and goes on serving its other connections.
void run_until_stopped(boost::asio::io_context& context, unsigned index) {
  for (;;) {
    try {
      context.run();
      return;
    } catch (const std::exception& e) {
      log_line("worker " + std::to_string(index) + ": a handler failed: " + e.what());
    } catch (...) {
      log_line("worker " + std::to_string(index) + ": a handler failed");
    }
  }
}
}  // namespace

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
    // Asio opens a context's reactor (its epoll or kqueue descriptors) with its first
    // socket or timer. Opening it now means a worker's first connection cannot fail for
    // want of descriptors, which would otherwise throw out of the accepting handler.
    boost::asio::steady_timer opens_the_reactor(*contexts_.back());
  }
}

void WorkerPool::run() {
  std::vector<std::thread> threads;
  threads.reserve(contexts_.size());
  for (unsigned i = 1; i < contexts_.size(); ++i) {
    threads.emplace_back([this, i] {
      t_worker = i;
      run_until_stopped(*contexts_[i], i);
    });
  }
  t_worker = 0;
  run_until_stopped(*contexts_[0], 0);
  for (auto& thread : threads) thread.join();
  t_worker.reset();
}

void WorkerPool::stop() {
  for (auto& context : contexts_) context->stop();
}

std::optional<unsigned> WorkerPool::current() { return t_worker; }

unsigned WorkerPool::pick(std::optional<unsigned> preferred) {
  if (preferred && *preferred < size()) return *preferred;
  return turn_.fetch_add(1, std::memory_order_relaxed) % size();
}

}  // namespace cutrelay
