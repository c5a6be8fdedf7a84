#include "hub/bridge_state.hpp"

#include "common/async.hpp"

namespace cutrelay {

bool Outbox::push(std::string text) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    queue_.push_back(std::move(text));
  }
  doorbell_.try_send(boost::system::error_code{});
  return true;
}

void Outbox::close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    queue_.clear();
  }
  doorbell_.try_send(boost::system::error_code{});
}

bool Outbox::closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

std::deque<std::string> Outbox::drain() {
  std::lock_guard lock(mutex_);
  std::deque<std::string> out;
  out.swap(queue_);
  return out;
}

boost::asio::awaitable<std::deque<std::string>> Outbox::take() {
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (!queue_.empty()) {
        std::deque<std::string> out;
        out.swap(queue_);
        co_return out;
      }
      if (closed_) co_return std::deque<std::string>{};
    }
    auto [ec] = co_await doorbell_.async_receive(nothrow);
    if (ec) {
      // Only cancellation gets here; treat it as the end of the writer.
      close();
      co_return std::deque<std::string>{};
    }
  }
}

}  // namespace cutrelay
