#pragma once
// A connection's queue of outgoing texts: any number of producers, one writer, all on the
// bridge's one I/O thread. Pushing never waits; it fails once the box is closed. A text
// that carries a call remembers the call's slot, so the writer can skip calls whose caller
// has stopped waiting. The writer sleeps on a timer that never expires and is woken by
// cancelling it, as the writer of Asio's C++20 chat server is.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/steady_timer.hpp>

#include "hub/call_slot.hpp"

namespace cutrelay {

struct OutgoingText {
  // Shared, so that one text (a ping, the welcome) can be queued on many connections
  // without a copy.
  std::shared_ptr<const std::string> text;
  std::shared_ptr<CallSlot> call;  // set for calls only

  // Whether the text is still worth sending.
  bool live() const { return !call || call->waiting(); }
};

class Outbox {
 public:
  // `ex` is the executor the connection's writer runs on.
  explicit Outbox(boost::asio::any_io_executor ex);
  Outbox(const Outbox&) = delete;
  Outbox& operator=(const Outbox&) = delete;

  // Queues a text; false when the box is closed.
  bool push(std::shared_ptr<const std::string> text, std::shared_ptr<CallSlot> call = nullptr);
  bool push(std::string text) { return push(std::make_shared<const std::string>(std::move(text))); }

  // Stops the box: queued texts are dropped, later pushes fail, the writer wakes up.
  void close();

  bool closed() const { return closed_; }

  // Moves whatever is queued now into `out` (emptied first), without waiting. Calls whose
  // caller has given up are left out.
  void drain(std::vector<OutgoingText>& out);

  // The writer's side: completes once texts are queued or the box is closed, always by way
  // of the executor's queue, so that what the handlers queued before it add joins the
  // batch. A cancelled writer closes the box, since the writer is then ending. The box must
  // outlive the wait.
  boost::asio::awaitable<void> ready();

  // How many texts are queued (tests and diagnostics).
  std::size_t size() const { return queue_.size(); }

 private:
  // Drops calls nobody waits for any more; keeps a stalled peer's queue from growing
  // without bound while callers time out.
  void prune();

  std::vector<OutgoingText> queue_;
  std::size_t prune_at_ = 64;
  bool closed_ = false;
  boost::asio::steady_timer wake_;
};

}  // namespace cutrelay
