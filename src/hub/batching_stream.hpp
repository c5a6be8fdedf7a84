#pragma once
// A stream layer that can hold back what is written through it and send it in one system
// call. Between hold() and async_flush(), writes are appended to a buffer and complete at
// once; outside that window every operation passes straight to the next layer.
//
// The plug-in connection's writer uses it to send a batch of queued calls as one write:
// on loopback each send costs the receiving side's network work and a wake-up of the
// receiving process, so one send per batch instead of one per call is what keeps the
// relay's cost per call down under load. Frames are still made by the WebSocket layer on
// top; this layer only sees bytes.
#include <cstddef>
#include <string>
#include <utility>

#include <boost/asio/associated_executor.hpp>
#include <boost/asio/async_result.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
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

  // From now on writes are held back until async_flush.
  void hold() noexcept { holding_ = true; }
  bool holding() const noexcept { return holding_; }
  // Bytes held back so far.
  std::size_t held() const noexcept { return held_.size(); }

  // Sends everything held back in one write and stops holding. The buffer is kept for the
  // next batch unless it grew past `keep` bytes.
  template <class Token>
  auto async_flush(Token&& token, std::size_t keep = 256 * 1024) {
    holding_ = false;
    return boost::asio::async_initiate<Token, void(boost::beast::error_code, std::size_t)>(
        [this, keep](auto handler) {
          boost::asio::async_write(
              next_, boost::asio::buffer(held_),
              [this, keep, h = std::move(handler)](boost::beast::error_code ec,
                                                   std::size_t n) mutable {
                if (held_.capacity() > keep) {
                  std::string().swap(held_);
                } else {
                  held_.clear();
                }
                std::move(h)(ec, n);
              });
        },
        token);
  }

  template <class MutableBuffers, class Token>
  auto async_read_some(const MutableBuffers& buffers, Token&& token) {
    return next_.async_read_some(buffers, std::forward<Token>(token));
  }

  template <class ConstBuffers, class Token>
  auto async_write_some(const ConstBuffers& buffers, Token&& token) {
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
  NextLayer next_;
  std::string held_;
  bool holding_ = false;
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
