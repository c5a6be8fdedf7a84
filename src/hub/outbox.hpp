#pragma once
// A connection's queue of outgoing texts: any number of producers, one writer. Pushing
// never waits; it fails once the box is closed. A text that carries a call remembers the
// call's slot, so the writer can skip calls whose caller has stopped waiting.
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/asio/any_completion_handler.hpp>
#include <boost/asio/associated_cancellation_slot.hpp>
#include <boost/asio/async_result.hpp>
#include <boost/asio/associated_executor.hpp>
#include <boost/asio/system_executor.hpp>
#include <boost/system/error_code.hpp>

#include "hub/call_slot.hpp"
#include "hub/parked_waiter.hpp"

namespace cutrelay {

struct OutgoingText {
  // Shared, so that one text (a ping, the welcome) can be queued on many connections
  // without a copy.
  std::shared_ptr<const std::string> text;
  std::shared_ptr<CallSlot> call;  // set for calls only

  // Whether the text is still worth sending.
  bool live() const { return !call || call->waiting(); }
};

class Outbox : public std::enable_shared_from_this<Outbox> {
 public:
  Outbox() = default;

  // Queues a text; false when the box is closed.
  bool push(std::shared_ptr<const std::string> text, std::shared_ptr<CallSlot> call = nullptr);
  bool push(std::string text) { return push(std::make_shared<const std::string>(std::move(text))); }

  // Stops the box: queued texts are dropped, later pushes fail, the writer wakes up.
  void close();

  bool closed() const;

  // Moves whatever is queued now into `out` (emptied first), without waiting. Calls whose
  // caller has given up are left out.
  void drain(std::vector<OutgoingText>& out);

  // Writer side: completes once texts are queued or the box is closed. Cancelling the wait
  // closes the box, since the writer is then ending.
  template <typename Token>
  auto async_ready(Token&& token) {
    return boost::asio::async_initiate<Token, void()>(
        [self = shared_from_this()](auto handler) {
          self->park(park_handler(std::move(handler), [weak = std::weak_ptr<Outbox>(self)] {
            if (auto box = weak.lock()) box->close();
          }));
        },
        token);
  }

  // How many texts are queued (tests and diagnostics).
  std::size_t size() const;

 private:
  void park(ParkedWaiter waiter);
  // Drops calls nobody waits for any more; keeps a stalled peer's queue from growing
  // without bound while callers time out.
  void prune_locked();

  mutable std::mutex mutex_;
  std::vector<OutgoingText> queue_;
  std::size_t prune_at_ = 64;
  bool closed_ = false;
  ParkedWaiter writer_;
};

}  // namespace cutrelay
