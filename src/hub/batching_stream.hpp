#pragma once
// A stream layer that can hold back what is written through it and send it in one system
// call. After hold(), writes are appended to a buffer and complete at once; after
// send_held_with_next_write(), the next write sends the held bytes and its own in one
// gathered write. Outside that window every operation passes straight to the next layer.
//
// The plug-in connection's writer uses it to send a batch of queued calls as one write:
// on loopback each send costs the receiving side's network work and a wake-up of the
// receiving process, so one send per batch instead of one per call is what keeps the
// relay's cost per call down under load. Frames are still made by the WebSocket layer on
// top; this layer only sees bytes.
//
// Every byte reaches the next layer from inside a write of the WebSocket layer, never on
// the side: that layer's write lock is what keeps the frames it writes by itself (the pong
// that answers a ping, the reply to a close) from landing inside another frame. A pong
// written while frames are held is held with them, between two whole frames.
#include <cstddef>
#include <string>
#include <utility>

#include <boost/asio/associated_allocator.hpp>
#include <boost/asio/associated_cancellation_slot.hpp>
#include <boost/asio/associated_executor.hpp>
#include <boost/asio/async_result.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/buffers_cat.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/role.hpp>
#include <boost/beast/websocket/teardown.hpp>

namespace cutrelay {

template <class NextLayer>
class BatchingStream {
 public:
  using executor_type = typename NextLayer::executor_type;

  template <class... Args>
  explicit BatchingStream(Args&&... args) : next_(std::forward<Args>(args)...) {}

  executor_type get_executor() noexcept { return next_.get_executor(); }
  NextLayer& next_layer() noexcept { return next_; }
  const NextLayer& next_layer() const noexcept { return next_; }

  // From now on writes are held back.
  void hold() noexcept { holding_ = true; }
  bool holding() const noexcept { return holding_; }
  // Bytes held back so far.
  std::size_t held() const noexcept { return held_.size(); }

  // Stops holding: the next write sends everything held back in front of its own bytes,
  // in one write. The buffer is kept for the next batch unless it grew past `keep` bytes.
  void send_held_with_next_write(std::size_t keep = 256 * 1024) noexcept {
    holding_ = false;
    release_pending_ = !held_.empty();
    keep_ = keep;
  }

  template <class MutableBuffers, class Token>
  auto async_read_some(const MutableBuffers& buffers, Token&& token) {
    return next_.async_read_some(buffers, std::forward<Token>(token));
  }

  template <class ConstBuffers, class Token>
  auto async_write_some(const ConstBuffers& buffers, Token&& token) {
    if (release_pending_) {
      release_pending_ = false;
      return boost::asio::async_initiate<Token, void(boost::beast::error_code, std::size_t)>(
          [this](auto handler, const ConstBuffers& data) {
            const std::size_t own = boost::asio::buffer_size(data);
            boost::asio::async_write(
                next_, boost::beast::buffers_cat(boost::asio::buffer(held_), data),
                HeldSent<std::decay_t<decltype(handler)>>{this, own, std::move(handler)});
          },
          token, buffers);
    }
    if (!holding_) return next_.async_write_some(buffers, std::forward<Token>(token));
    return boost::asio::async_initiate<Token, void(boost::beast::error_code, std::size_t)>(
        [this](auto handler, const ConstBuffers& data) {
          const std::size_t n = boost::asio::buffer_size(data);
          const std::size_t old = held_.size();
          held_.resize(old + n);
          boost::asio::buffer_copy(boost::asio::buffer(held_.data() + old, n), data);
          // Never completed inline: the caller is still inside its initiating function.
          auto ex = boost::asio::get_associated_executor(handler, next_.get_executor());
          boost::asio::post(ex, [h = std::move(handler), n]() mutable {
            std::move(h)(boost::beast::error_code{}, n);
          });
        },
        token, buffers);
  }

 private:
  // Completes a write that carried the held bytes: the buffer is released, and the caller
  // learns of its own bytes only. It keeps the caller's executor and cancellation slot, so
  // a cancelled write still stops at once.
  template <class Handler>
  struct HeldSent {
    BatchingStream* self;
    std::size_t own;
    Handler handler;

    using executor_type =
        boost::asio::associated_executor_t<Handler, typename BatchingStream::executor_type>;
    executor_type get_executor() const noexcept {
      return boost::asio::get_associated_executor(handler, self->next_.get_executor());
    }
    using cancellation_slot_type = boost::asio::associated_cancellation_slot_t<Handler>;
    cancellation_slot_type get_cancellation_slot() const noexcept {
      return boost::asio::get_associated_cancellation_slot(handler);
    }
    using allocator_type = boost::asio::associated_allocator_t<Handler>;
    allocator_type get_allocator() const noexcept {
      return boost::asio::get_associated_allocator(handler);
    }

    void operator()(boost::beast::error_code ec, std::size_t) {
      if (self->held_.capacity() > self->keep_) {
        std::string().swap(self->held_);
      } else {
        self->held_.clear();
      }
      std::move(handler)(ec, ec ? 0 : own);
    }
  };

  NextLayer next_;
  std::string held_;
  std::size_t keep_ = 0;
  bool holding_ = false;
  bool release_pending_ = false;
};

// Closing a WebSocket over this layer closes the layer below.
template <class NextLayer>
void teardown(boost::beast::role_type role, BatchingStream<NextLayer>& stream,
              boost::beast::error_code& ec) {
  using boost::beast::websocket::teardown;
  teardown(role, stream.next_layer(), ec);
}

template <class NextLayer, class TeardownHandler>
void async_teardown(boost::beast::role_type role, BatchingStream<NextLayer>& stream,
                    TeardownHandler&& handler) {
  using boost::beast::websocket::async_teardown;
  async_teardown(role, stream.next_layer(), std::forward<TeardownHandler>(handler));
}

}  // namespace cutrelay
