#include "http_client.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <stdexcept>

namespace cutrelay::testing {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

// Runs the io_context until `done` or the time is up; on time-out the socket is closed so
// that every pending operation completes. Blocking socket calls ignore deadlines, so every
// exchange here is asynchronous underneath.
bool run_until(asio::io_context& ioc, beast::tcp_stream& stream, const bool& done,
               std::chrono::milliseconds limit) {
  ioc.restart();
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done && std::chrono::steady_clock::now() < deadline) {
    ioc.run_one_until(deadline);
  }
  if (done) return true;
  beast::error_code ec;
  stream.socket().close(ec);
  ioc.restart();
  ioc.run();
  return false;
}

}  // namespace

struct HttpConnection::Impl {
  asio::io_context ioc;
  beast::tcp_stream stream{ioc};
  beast::flat_buffer buffer;
  std::chrono::milliseconds timeout{};
};

HttpConnection::HttpConnection(std::uint16_t port, std::chrono::milliseconds timeout)
    : impl_(std::make_unique<Impl>()) {
  impl_->timeout = timeout;
  impl_->stream.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
}

HttpConnection::~HttpConnection() = default;

HttpResult HttpConnection::request(http::verb method, const std::string& target,
                                   const std::string& body, const Headers& headers) {
  http::request<http::string_body> req{method, target, 11};
  req.set(http::field::host, "127.0.0.1");
  for (const auto& [name, value] : headers) req.set(name, value);
  req.body() = body;
  if (!body.empty() || method == http::verb::post) req.prepare_payload();

  http::response_parser<http::string_body> parser;
  parser.body_limit(1u << 30);
  if (method == http::verb::head) parser.skip(true);
  bool done = false;
  beast::error_code result;
  http::async_write(impl_->stream, req, [&](beast::error_code ec, std::size_t) {
    if (ec) {
      result = ec;
      done = true;
      return;
    }
    http::async_read(impl_->stream, impl_->buffer, parser, [&](beast::error_code rec, std::size_t) {
      result = rec;
      done = true;
    });
  });
  if (!run_until(impl_->ioc, impl_->stream, done, impl_->timeout)) {
    throw std::runtime_error("HTTP " + target + " timed out");
  }
  if (result) throw beast::system_error(result);

  auto res = parser.release();
  HttpResult out;
  out.status = res.result_int();
  for (const auto& field : res) {
    std::string name(field.name_string());
    for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    out.headers[name] = std::string(field.value());
  }
  out.body = std::move(res.body());
  out.keep_alive = res.keep_alive();
  return out;
}

bool HttpConnection::closed_by_peer(std::chrono::milliseconds wait) {
  char byte;
  bool done = false;
  beast::error_code result;
  impl_->stream.socket().async_read_some(asio::buffer(&byte, 1),
                                         [&](beast::error_code ec, std::size_t) {
                                           result = ec;
                                           done = true;
                                         });
  if (!run_until(impl_->ioc, impl_->stream, done, wait)) return false;
  return result == asio::error::eof || result == asio::error::connection_reset;
}

HttpResult http_request(std::uint16_t port, http::verb method, const std::string& target,
                        const std::string& body, const Headers& headers,
                        std::chrono::milliseconds timeout) {
  HttpConnection connection(port, timeout);
  return connection.request(method, target, body, headers);
}

HttpResult post_json(std::uint16_t port, const std::string& body, const std::string& target) {
  return http_request(port, http::verb::post, target, body,
                      {{"Content-Type", "application/json"}});
}

json post_command(std::uint16_t port, const json& body) {
  const HttpResult result = http_request(
      port, http::verb::post, "/command", body.dump(), {{"Content-Type", "application/json"}},
      std::chrono::seconds(120));
  if (result.status != 200) {
    throw std::runtime_error("status " + std::to_string(result.status) + ": " + result.body);
  }
  return json::parse(result.body);
}

struct StreamingConnection::Impl {
  asio::io_context ioc;
  beast::tcp_stream stream{ioc};
  std::string received;
  char chunk[4096];
  bool reading = false;
  bool ended = false;
};

StreamingConnection::StreamingConnection(std::uint16_t port) : impl_(std::make_unique<Impl>()) {
  impl_->stream.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
}

StreamingConnection::~StreamingConnection() = default;

void StreamingConnection::send(const std::string& bytes) {
  asio::write(impl_->stream.socket(), asio::buffer(bytes));
}

bool StreamingConnection::read_until(const std::string& text, std::chrono::milliseconds limit) {
  Impl& s = *impl_;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (s.received.find(text) == std::string::npos && !s.ended) {
    if (s.ioc.stopped()) s.ioc.restart();  // it stops whenever a read completes
    if (!s.reading) {
      s.reading = true;
      s.stream.socket().async_read_some(asio::buffer(s.chunk), [&s](beast::error_code ec, std::size_t n) {
        s.reading = false;
        s.received.append(s.chunk, n);
        if (ec) s.ended = true;
      });
    }
    if (s.ioc.run_one_until(deadline) == 0 && std::chrono::steady_clock::now() >= deadline) break;
  }
  return s.received.find(text) != std::string::npos;
}

const std::string& StreamingConnection::received() const { return impl_->received; }

std::string raw_exchange(std::uint16_t port, const std::string& bytes,
                         std::chrono::milliseconds timeout, bool half_close) {
  asio::io_context ioc;
  beast::tcp_stream stream(ioc);
  stream.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
  std::string reply;
  char chunk[4096];
  bool done = false;
  std::function<void()> read_more = [&] {
    stream.socket().async_read_some(asio::buffer(chunk), [&](beast::error_code ec, std::size_t n) {
      reply.append(chunk, n);
      if (ec) {
        done = true;
      } else {
        read_more();
      }
    });
  };
  asio::async_write(stream.socket(), asio::buffer(bytes), [&](beast::error_code, std::size_t) {
    beast::error_code ec;
    if (half_close) stream.socket().shutdown(tcp::socket::shutdown_send, ec);
  });
  read_more();
  run_until(ioc, stream, done, timeout);
  return reply;
}

}  // namespace cutrelay::testing
