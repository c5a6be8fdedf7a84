#pragma once
// A suspended operation waiting to be woken once, with the executor it resumes on.
#include <utility>

#include <boost/asio/any_completion_handler.hpp>
#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/associated_executor.hpp>
#include <boost/asio/cancellation_type.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/system_executor.hpp>

namespace cutrelay {

struct ParkedWaiter {
  boost::asio::any_completion_handler<void()> handler;
  boost::asio::any_io_executor ex;

  ParkedWaiter() = default;
  ParkedWaiter(boost::asio::any_completion_handler<void()> h, boost::asio::any_io_executor e)
      : handler(std::move(h)), ex(std::move(e)) {}
  ParkedWaiter(ParkedWaiter&&) noexcept = default;
  // Boost 1.81's any_completion_handler move assignment wraps the source instead of taking
  // it over (and crashes); move-construct and swap instead.
  ParkedWaiter& operator=(ParkedWaiter&& other) noexcept {
    boost::asio::any_completion_handler<void()> taken(std::move(other.handler));
    handler.swap(taken);
    ex = std::move(other.ex);
    return *this;
  }

  // Resumes the waiter on its own executor, never inline: the waker may hold a lock's
  // worth of state or run deep in another connection's reader. No-op when empty.
  void wake() {
    if (!handler) return;
    auto target = std::move(ex);
    boost::asio::post(target, [h = std::move(handler)]() mutable { std::move(h)(); });
  }
};

// Type-erases a waiting operation's handler. `on_cancel` runs when the operation is
// cancelled (per-operation cancellation, as `||` uses); it must settle whatever the waiter
// waits for, so that the waiter is woken.
template <typename Handler, typename OnCancel>
ParkedWaiter park_handler(Handler handler, OnCancel on_cancel) {
  // Kept apart from the handler: the type-erased handler's executor cannot be posted to in
  // this Boost, the io executor it came from can.
  boost::asio::any_io_executor ex =
      boost::asio::get_associated_executor(handler, boost::asio::system_executor());
  // The erased handler takes over the operation's cancellation slot, so the cancellation
  // handler is installed on the erased handler's slot, after it is made.
  boost::asio::any_completion_handler<void()> erased(std::move(handler));
  auto slot = erased.get_cancellation_slot();
  if (slot.is_connected()) {
    slot.assign([f = std::move(on_cancel)](boost::asio::cancellation_type) mutable { f(); });
  }
  return ParkedWaiter(std::move(erased), std::move(ex));
}

}  // namespace cutrelay
