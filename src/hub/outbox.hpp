#pragma once
// A connection's queue of outgoing texts: any number of producers, one writer. Pushing
// never waits; it fails once the writer has stopped.
#include <deque>
#include <mutex>
#include <string>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/experimental/concurrent_channel.hpp>

namespace cutrelay {

class Outbox {
 public:
  explicit Outbox(boost::asio::any_io_executor ex) : doorbell_(std::move(ex), 1) {}

  // Queues a text; false when the box is closed.
  bool push(std::string text);

  // Stops the box: queued texts are dropped, later pushes fail, the writer wakes up.
  void close();

  bool closed() const;

  // Takes whatever is queued now, without waiting.
  std::deque<std::string> drain();

  // Writer side: waits until texts are queued (returned in order) or the box is closed
  // (returns an empty queue).
  boost::asio::awaitable<std::deque<std::string>> take();

 private:
  mutable std::mutex mutex_;
  std::deque<std::string> queue_;
  bool closed_ = false;
  // Rung after every push; capacity 1, so a burst of pushes rings it once.
  boost::asio::experimental::concurrent_channel<void(boost::system::error_code)> doorbell_;
};

}  // namespace cutrelay
