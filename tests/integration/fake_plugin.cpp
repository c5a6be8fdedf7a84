#include "fake_plugin.hpp"

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/stream.hpp>

#include "common/json_util.hpp"

namespace cutrelay::testing {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

namespace {
constexpr auto nothrow = asio::as_tuple(asio::use_awaitable);

struct Outgoing {
  std::string text;
  bool binary = false;
};
}  // namespace

// Handlers and coroutines hold a plain pointer: the owner stops the thread before Impl goes.
struct FakePlugin::Impl {
  asio::io_context ioc;
  // Keeps the thread serving posts after the connection has ended.
  asio::executor_work_guard<asio::io_context::executor_type> guard{ioc.get_executor()};
  websocket::stream<beast::tcp_stream> ws{ioc};
  std::thread thread;

  mutable std::mutex mutex;
  std::vector<json> received;
  std::vector<json> calls;
  Handler handler;
  std::atomic<bool> open{true};

  std::deque<Outgoing> queue;  // touched on the io thread only
  asio::steady_timer wake{ioc};
  bool writing = false;

  void enqueue(Outgoing out) {
    queue.push_back(std::move(out));
    if (!writing) {
      writing = true;
      asio::co_spawn(ioc, write_loop(this), asio::detached);
    }
  }

  static asio::awaitable<void> write_loop(Impl* self) {
    while (!self->queue.empty()) {
      Outgoing out = std::move(self->queue.front());
      self->queue.pop_front();
      self->ws.binary(out.binary);
      auto [ec, n] = co_await self->ws.async_write(asio::buffer(out.text), nothrow);
      if (ec) break;
    }
    self->writing = false;
  }

  void answer(const json& call) {
    Handler h;
    {
      std::lock_guard lock(mutex);
      h = handler;
    }
    Reply reply = h ? h(call) : FakePlugin::ok(call, {{"verb", call.value("verb", "")}, {"args", call.value("args", json())}});
    if (reply.drop) {
      beast::error_code ec;
      ws.next_layer().socket().close(ec);
      return;
    }
    if (!reply.message) return;
    if (reply.delay.count() == 0) {
      enqueue({dump_compact(*reply.message)});
      return;
    }
    auto timer = std::make_shared<asio::steady_timer>(ioc, reply.delay);
    timer->async_wait([self = this, timer, text = dump_compact(*reply.message)](
                          beast::error_code ec) {
      if (!ec) self->enqueue({text});
    });
  }

  static asio::awaitable<void> read_loop(Impl* self) {
    beast::flat_buffer buffer;
    for (;;) {
      auto [ec, n] = co_await self->ws.async_read(buffer, nothrow);
      if (ec) break;
      const std::string text = beast::buffers_to_string(buffer.data());
      buffer.consume(buffer.size());
      json message = json::parse(text, nullptr, false);
      {
        std::lock_guard lock(self->mutex);
        self->received.push_back(message);
        if (message.is_object() && message.value("type", "") == "call") {
          self->calls.push_back(message);
        }
      }
      if (message.is_object() && message.value("type", "") == "call") self->answer(message);
    }
    self->open = false;
  }
};

FakePlugin::FakePlugin(std::uint16_t port, const std::string& token, Options options)
    : impl_(std::make_shared<Impl>()) {
  auto& ws = impl_->ws;
  ws.next_layer().connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
  ws.read_message_max(1u << 30);
  ws.handshake("127.0.0.1", "/ws?token=" + token);
  asio::co_spawn(impl_->ioc, Impl::read_loop(impl_.get()), asio::detached);
  impl_->thread = std::thread([impl = impl_.get()] { impl->ioc.run(); });
  if (!options.runtime.empty()) {
    json hello = options.hello;
    hello["type"] = "hello";
    hello["runtime"] = options.runtime;
    send_json(hello);
  }
}

FakePlugin::~FakePlugin() {
  drop();
  impl_->ioc.stop();
  if (impl_->thread.joinable()) impl_->thread.join();
}

FakePlugin::Reply FakePlugin::ok(const json& call, json result) {
  return Reply{json{{"type", "result"}, {"id", call.at("id")}, {"ok", true}, {"result", std::move(result)}}};
}

FakePlugin::Reply FakePlugin::fail(const json& call, const std::string& code,
                                   const std::string& message) {
  return Reply{json{{"type", "result"},
                    {"id", call.at("id")},
                    {"ok", false},
                    {"error", message},
                    {"errorCode", code}}};
}

void FakePlugin::set_handler(Handler handler) {
  std::lock_guard lock(impl_->mutex);
  impl_->handler = std::move(handler);
}

void FakePlugin::send(const std::string& text, bool binary) {
  asio::post(impl_->ioc, [impl = impl_.get(), text, binary] { impl->enqueue({text, binary}); });
}

std::vector<json> FakePlugin::calls() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->calls;
}

std::vector<json> FakePlugin::messages() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->received;
}

bool FakePlugin::wait_until(const std::function<bool()>& done,
                            std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

bool FakePlugin::wait_welcome(std::chrono::milliseconds limit) const {
  return wait_until(
      [this] {
        for (const json& m : messages()) {
          if (m.is_object() && m.value("type", "") == "welcome") return true;
        }
        return false;
      },
      limit);
}

bool FakePlugin::connected() const { return impl_->open; }

void FakePlugin::close() {
  asio::post(impl_->ioc, [impl = impl_.get()] {
    impl->ws.async_close(websocket::close_code::normal, [impl](beast::error_code) {});
  });
  wait_until([this] { return !connected(); }, std::chrono::seconds(5));
}

void FakePlugin::drop() {
  asio::post(impl_->ioc, [impl = impl_.get()] {
    beast::error_code ec;
    impl->ws.next_layer().socket().shutdown(tcp::socket::shutdown_both, ec);
    impl->ws.next_layer().socket().close(ec);
  });
  wait_until([this] { return !connected(); }, std::chrono::seconds(5));
}

}  // namespace cutrelay::testing
