#include "hub/call_slot.hpp"

#include <boost/asio/this_coro.hpp>

#include "common/async.hpp"

namespace cutrelay {

namespace asio = boost::asio;

bool CallSlot::settle(State to, json* message) {
  if (state_ != State::Waiting) return false;
  if (message != nullptr) message_ = std::move(*message);
  state_ = to;
  // The waiter resumes later, from the executor's queue, never inside the settler.
  wake_.cancel();
  return true;
}

bool CallSlot::deliver(json message) { return settle(State::Answered, &message); }

void CallSlot::close() { settle(State::Closed, nullptr); }

CallSlot::State CallSlot::give_up() {
  settle(State::GaveUp, nullptr);
  return state_;
}

asio::awaitable<CallSlot::State> CallSlot::settled(std::chrono::steady_clock::time_point deadline) {
  wake_.expires_at(deadline);
  // Checked before every wait: a slot settled before its waiter got here has nobody's
  // wait to cancel, and must not be waited on until the deadline.
  while (state_ == State::Waiting) {
    auto [ec] = co_await wake_.async_wait(nothrow);
    if (state_ != State::Waiting) break;
    // Nobody settled the slot: either the deadline passed or the waiter was cancelled
    // (its agent went away). Both mean giving up.
    const auto state = co_await asio::this_coro::cancellation_state;
    if (!ec || state.cancelled() != asio::cancellation_type::none) give_up();
  }
  co_return state_;
}

}  // namespace cutrelay
