#include "hub/call_slot.hpp"

#include <boost/asio/associated_executor.hpp>

namespace cutrelay {

namespace asio = boost::asio;

bool CallSlot::settle(State to, json* message) {
  ParkedWaiter waiter;
  {
    std::lock_guard lock(mutex_);
    if (state_.load(std::memory_order_relaxed) != State::Waiting) return false;
    if (message != nullptr) message_ = std::move(*message);
    state_.store(to, std::memory_order_release);
    waiter = std::move(waiter_);
  }
  waiter.wake();
  return true;
}

bool CallSlot::deliver(json message) { return settle(State::Answered, &message); }

void CallSlot::close() { settle(State::Closed, nullptr); }

CallSlot::State CallSlot::give_up() {
  settle(State::GaveUp, nullptr);
  return state();
}

json CallSlot::take_message() {
  std::lock_guard lock(mutex_);
  return std::move(message_);
}

void CallSlot::park(ParkedWaiter waiter) {
  {
    std::lock_guard lock(mutex_);
    if (state_.load(std::memory_order_relaxed) == State::Waiting) {
      waiter_ = std::move(waiter);
      return;
    }
  }
  waiter.wake();
}

}  // namespace cutrelay
