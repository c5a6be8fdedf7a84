#include "fake_direct_api.hpp"

#include <atomic>
#include <mutex>
#include <sstream>
#include <thread>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>

namespace cutrelay::testing {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {
constexpr auto nothrow = asio::as_tuple(asio::use_awaitable);
}

struct FakeDirectApi::Impl {
  asio::io_context ioc;
  tcp::acceptor acceptor{ioc, {asio::ip::make_address("127.0.0.1"), 0}};
  std::thread thread;
  mutable std::mutex mutex;
  std::vector<std::string> requests;
  Handler handler = [](const json&) { return json_reply(json::object()); };
  std::atomic<int> cut_off{0};

  asio::awaitable<void> serve(tcp::socket socket) {
    std::string data;
    auto [ec, head_end] = co_await asio::async_read_until(socket, asio::dynamic_buffer(data), "\r\n\r\n", nothrow);
    if (ec) co_return;
    std::size_t length = 0;
    const std::string head = data.substr(0, head_end);
    if (const auto at = head.find("Content-Length: "); at != std::string::npos) {
      length = std::stoul(head.substr(at + 16));
    }
    if (data.size() < head_end + length) {
      auto [rec, n] = co_await asio::async_read(socket, asio::dynamic_buffer(data),
                                                asio::transfer_exactly(head_end + length - data.size()), nothrow);
      if (rec) co_return;
    }
    Handler h;
    {
      std::lock_guard lock(mutex);
      requests.push_back(data);
      h = handler;
    }
    json body = json::parse(data.substr(head_end), nullptr, false);
    if (body.is_discarded()) body = nullptr;
    const Reply reply = h(body);
    if (reply.silent) {
      asio::steady_timer forever(socket.get_executor(), std::chrono::hours(1));
      co_await forever.async_wait(nothrow);
      co_return;
    }
    auto [wec, wn] = co_await asio::async_write(socket, asio::buffer(reply.raw), nothrow);
    if (reply.flood && !wec) {
      const std::string chunk(1u << 20, 'z');
      for (;;) {
        auto [fec, fn] = co_await asio::async_write(socket, asio::buffer(chunk), nothrow);
        if (fec) break;
      }
      ++cut_off;
      co_return;
    }
    boost::system::error_code ignored;
    socket.shutdown(tcp::socket::shutdown_both, ignored);
  }

  asio::awaitable<void> accept_loop() {
    for (;;) {
      auto [ec, socket] = co_await acceptor.async_accept(nothrow);
      if (ec) co_return;
      asio::co_spawn(ioc, serve(std::move(socket)), asio::detached);
    }
  }
};

FakeDirectApi::FakeDirectApi() : impl_(std::make_shared<Impl>()) {
  asio::co_spawn(impl_->ioc, impl_->accept_loop(), asio::detached);
  impl_->thread = std::thread([impl = impl_.get()] { impl->ioc.run(); });
}

FakeDirectApi::~FakeDirectApi() {
  impl_->ioc.stop();
  impl_->thread.join();
}

std::uint16_t FakeDirectApi::port() const { return impl_->acceptor.local_endpoint().port(); }

void FakeDirectApi::set_handler(Handler handler) {
  std::lock_guard lock(impl_->mutex);
  impl_->handler = std::move(handler);
}

int FakeDirectApi::floods_cut_off() const { return impl_->cut_off; }

std::vector<std::string> FakeDirectApi::requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests;
}

FakeDirectApi::Reply FakeDirectApi::json_reply(const json& body, std::size_t chunk) {
  const std::string text = body.dump();
  if (chunk == 0) {
    return {"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
            std::to_string(text.size()) + "\r\nConnection: close\r\n\r\n" + text};
  }
  std::ostringstream out;
  out << "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (std::size_t at = 0; at < text.size(); at += chunk) {
    const std::string piece = text.substr(at, chunk);
    out << std::hex << piece.size() << "\r\n" << piece << "\r\n";
  }
  out << "0\r\n\r\n";
  return {out.str()};
}

}  // namespace cutrelay::testing
