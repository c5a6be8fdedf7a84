#pragma once
// Where one forwarded call meets its outcome. Three parties race to settle it: the reader
// that brings the result, the end of the connection, and the waiter giving up (its deadline
// passed or it was cancelled). The first to take the lock decides; the others find the
// slot settled and do nothing. The waiter parks a completion handler and is woken once,
// outside any lock, whoever settled the slot.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include <boost/asio/any_completion_handler.hpp>
#include <boost/asio/associated_cancellation_slot.hpp>
#include <boost/asio/async_result.hpp>
#include <boost/asio/associated_executor.hpp>
#include <boost/asio/system_executor.hpp>
#include "hub/parked_waiter.hpp"

#include "common/json_util.hpp"

namespace cutrelay {

class CallSlot : public std::enable_shared_from_this<CallSlot> {
 public:
  enum class State : std::uint8_t { Waiting, Answered, Closed, GaveUp };

  // The reader's side: stores the result message. False when the slot was already settled
  // (the caller gave up, or a result for the same id came before): the message is dropped.
  bool deliver(json message);

  // The end of the connection: the caller learns at once that no result will come.
  void close();

  // The waiter's side when its deadline passes. Settles the slot as given up unless an
  // outcome is already there; returns the state that holds afterwards either way, so a
  // result that landed as the deadline passed still wins.
  State give_up();

  // Whether nobody has settled the slot yet. The writer skips calls that are no longer
  // waiting, so a caller that gave up never has its call sent.
  bool waiting() const { return state_.load(std::memory_order_acquire) == State::Waiting; }

  State state() const { return state_.load(std::memory_order_acquire); }

  // The delivered message; only meaningful once state() is Answered, taken once.
  json take_message();

  // Completes when the slot is settled (at once when it already is). A cancellation of the
  // awaiting operation counts as giving up. One waiter per slot.
  template <typename Token>
  auto async_settled(Token&& token) {
    return boost::asio::async_initiate<Token, void()>(
        [self = shared_from_this()](auto handler) {
          self->park(park_handler(std::move(handler), [weak = std::weak_ptr<CallSlot>(self)] {
            if (auto slot = weak.lock()) slot->give_up();
          }));
        },
        token);
  }

 private:
  void park(ParkedWaiter waiter);
  // Moves the slot from Waiting to `to` and wakes the waiter; false when already settled.
  bool settle(State to, json* message);

  mutable std::mutex mutex_;
  std::atomic<State> state_{State::Waiting};
  json message_;
  ParkedWaiter waiter_;
};

}  // namespace cutrelay
