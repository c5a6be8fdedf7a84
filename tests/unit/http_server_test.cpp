// The HTTP listener in this process, on loopback, served by an io_context of its own.
#include "server/http_server.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include "server/startup.hpp"

namespace cutrelay {
namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

// One request on a fresh connection, "Connection: close", and the whole answer.
std::string ask(std::uint16_t port, const std::string& target) {
  asio::io_context ioc;
  tcp::socket socket(ioc);
  socket.connect({asio::ip::make_address("127.0.0.1"), port});
  asio::write(socket, asio::buffer("GET " + target +
                                   " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"));
  std::string answer;
  boost::system::error_code ec;
  asio::read(socket, asio::dynamic_buffer(answer), ec);
  return answer;
}

// Stopping the I/O loop and tearing it down is an orderly end: the accepting loop's frame is
// destroyed with it, and that must not end the process (only losing the listener while the
// bridge runs does). The port is free afterwards.
TEST(HttpServer, StoppingAndTearingDownTheLoopEndsNothingElse) {
  std::uint16_t port = 0;
  {
    auto loop = std::make_unique<asio::io_context>(1);
    BindOutcome bound = bind_listener(*loop, "127.0.0.1", 0);
    ASSERT_TRUE(bound.acceptor) << bound.error;
    port = bound.acceptor->local_endpoint().port();
    auto state = std::make_shared<BridgeState>();
    start_http_server(state, std::move(*bound.acceptor));
    std::thread runner([&] { loop->run(); });
    EXPECT_TRUE(ask(port, "/nowhere").starts_with("HTTP/1.1 404")) << "not serving";
    loop->stop();
    runner.join();
    loop.reset();
  }
  asio::io_context ioc;
  tcp::socket probe(ioc);
  boost::system::error_code ec;
  probe.connect({asio::ip::make_address("127.0.0.1"), port}, ec);
  EXPECT_EQ(ec, asio::error::connection_refused);
}

}  // namespace
}  // namespace cutrelay
