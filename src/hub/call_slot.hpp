#pragma once
// Where one forwarded call meets its outcome. Three parties may settle it: the reader that
// brings the result, the end of the connection, and the waiter giving up (its deadline
// passed or it was cancelled). The first decides; the others find the slot settled and do
// nothing. All of them run on the bridge's one I/O thread, so settling is a plain change of
// state. The waiter sleeps on a timer that is also its deadline, and whoever settles the
// slot cancels the timer to wake it, as Asio's C++20 chat server wakes its writer.
#include <chrono>
#include <cstdint>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/steady_timer.hpp>

#include "common/json_util.hpp"

namespace cutrelay {

class CallSlot {
 public:
  enum class State : std::uint8_t { Waiting, Answered, Closed, GaveUp };

  // `ex` is the executor the waiter runs on.
  explicit CallSlot(boost::asio::any_io_executor ex) : wake_(std::move(ex)) {}
  CallSlot(const CallSlot&) = delete;
  CallSlot& operator=(const CallSlot&) = delete;

  // The reader's side: stores the result message. False when the slot was already settled
  // (the caller gave up, or a result for the same id came before): the message is dropped.
  bool deliver(json message);

  // The end of the connection: the caller learns at once that no result will come.
  void close();

  // The waiter's side when it stops waiting. Settles the slot as given up unless an outcome
  // is already there; returns the state that holds afterwards either way, so a result that
  // landed as the deadline passed still wins.
  State give_up();

  // Whether nobody has settled the slot yet. The writer skips calls that are no longer
  // waiting, so a caller that gave up never has its call sent.
  bool waiting() const { return state_ == State::Waiting; }

  State state() const { return state_; }

  // The delivered message; only meaningful once state() is Answered, taken once.
  json take_message() { return std::move(message_); }

  // Waits until the slot is settled, giving up when `deadline` passes first or the waiting
  // coroutine is cancelled; returns the state that holds then. One waiter per slot; the
  // slot must outlive the wait (the waiter holds it).
  boost::asio::awaitable<State> settled(std::chrono::steady_clock::time_point deadline);

 private:
  // Moves the slot from Waiting to `to` and wakes the waiter; false when already settled.
  bool settle(State to, json* message);

  State state_ = State::Waiting;
  json message_;
  boost::asio::steady_timer wake_;
};

}  // namespace cutrelay
