#include "hub/outbox.hpp"

#include <algorithm>

#include <boost/asio/associated_executor.hpp>
#include <boost/asio/post.hpp>

namespace cutrelay {

namespace asio = boost::asio;

bool Outbox::push(std::shared_ptr<const std::string> text, std::shared_ptr<CallSlot> call) {
  ParkedWaiter writer;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    queue_.push_back(OutgoingText{std::move(text), std::move(call)});
    if (queue_.size() >= prune_at_) prune_locked();
    writer = std::move(writer_);
  }
  writer.wake();
  return true;
}

void Outbox::prune_locked() {
  std::erase_if(queue_, [](const OutgoingText& item) { return !item.live(); });
  // Next pass only after the queue has doubled, so pruning stays linear overall.
  prune_at_ = std::max<std::size_t>(64, queue_.size() * 2);
}

void Outbox::close() {
  ParkedWaiter writer;
  std::vector<OutgoingText> dropped;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    dropped.swap(queue_);
    writer = std::move(writer_);
  }
  // `dropped` is released here, outside the lock.
  writer.wake();
}

bool Outbox::closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

std::size_t Outbox::size() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

void Outbox::drain(std::vector<OutgoingText>& out) {
  out.clear();
  {
    std::lock_guard lock(mutex_);
    out.swap(queue_);
    prune_at_ = 64;
  }
  std::erase_if(out, [](const OutgoingText& item) { return !item.live(); });
}

void Outbox::park(ParkedWaiter waiter) {
  {
    std::lock_guard lock(mutex_);
    if (queue_.empty() && !closed_) {
      writer_ = std::move(waiter);
      return;
    }
  }
  waiter.wake();
}

}  // namespace cutrelay
