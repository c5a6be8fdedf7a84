#include "hub/outbox.hpp"

#include <algorithm>

#include <boost/asio/post.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "common/async.hpp"

namespace cutrelay {

namespace asio = boost::asio;

Outbox::Outbox(asio::any_io_executor ex)
    : wake_(std::move(ex), asio::steady_timer::time_point::max()) {}

bool Outbox::push(std::shared_ptr<const std::string> text, std::shared_ptr<CallSlot> call) {
  if (closed_) return false;
  queue_.push_back(OutgoingText{std::move(text), std::move(call)});
  if (queue_.size() >= prune_at_) prune();
  // The writer resumes later, from the executor's queue, never inside the producer.
  wake_.cancel();
  return true;
}

void Outbox::prune() {
  std::erase_if(queue_, [](const OutgoingText& item) { return !item.live(); });
  // Next pass only after the queue has doubled, so pruning stays linear overall.
  prune_at_ = std::max<std::size_t>(64, queue_.size() * 2);
}

void Outbox::close() {
  closed_ = true;
  std::vector<OutgoingText>().swap(queue_);
  wake_.cancel();
}

void Outbox::drain(std::vector<OutgoingText>& out) {
  out.clear();
  out.swap(queue_);
  prune_at_ = 64;
  std::erase_if(out, [](const OutgoingText& item) { return !item.live(); });
}

asio::awaitable<void> Outbox::ready() {
  if (!queue_.empty() || closed_) {
    // Texts are queued already, yet the writer still lets the handlers queued before it
    // run first: agents' requests just read add their calls to this batch, which is then
    // written at once rather than in many small writes.
    const auto executor = co_await asio::this_coro::executor;
    co_await asio::post(executor, asio::use_awaitable);
    co_return;
  }
  while (queue_.empty() && !closed_) {
    (void)co_await wake_.async_wait(nothrow);
    // The timer never expires: the wait ended because something was queued, the box was
    // closed, or the writer was cancelled. The wake-up came through the executor's queue
    // like any other handler, so texts queued meanwhile are here already.
    const auto state = co_await asio::this_coro::cancellation_state;
    if (state.cancelled() != asio::cancellation_type::none) close();
  }
}

}  // namespace cutrelay
