// Load test of the forwarded path: N agent connections POST premiere_ping as fast as the
// bridge answers, against the real binary and a C++ fake plug-in that answers at once.
// Prints req/s, p50 and p99 per scenario. Timings live here, never in the tests.
//
//   build/bench_load [seconds per scenario, default 3]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/connect.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>

#include "bridge_process.hpp"
#include "fake_plugin.hpp"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using namespace cutrelay::testing;
using Clock = std::chrono::steady_clock;

namespace {

struct Tally {
  std::vector<double> micros;
  std::size_t failures = 0;
};

asio::awaitable<void> agent(std::uint16_t port, Clock::time_point until, Tally& tally) {
  beast::tcp_stream stream(co_await asio::this_coro::executor);
  co_await stream.async_connect(
      asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), port), asio::use_awaitable);
  http::request<http::string_body> request{http::verb::post, "/command", 11};
  request.set(http::field::host, "127.0.0.1");
  request.set(http::field::content_type, "application/json");
  request.body() = R"({"command":"premiere_ping","args":{}})";
  request.prepare_payload();
  beast::flat_buffer buffer;
  while (Clock::now() < until) {
    const auto start = Clock::now();
    co_await http::async_write(stream, request, asio::use_awaitable);
    http::response<http::string_body> response;
    co_await http::async_read(stream, buffer, response, asio::use_awaitable);
    if (response.result_int() != 200 ||
        response.body().find("\"success\":true") == std::string::npos) {
      ++tally.failures;
    }
    tally.micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
}

void scenario(const char* name, std::uint16_t port, int connections, std::chrono::seconds length) {
  asio::io_context ioc;
  Tally tally;
  const auto begin = Clock::now();
  const auto until = begin + length;
  for (int i = 0; i < connections; ++i) {
    asio::co_spawn(ioc, agent(port, until, tally), [&tally](std::exception_ptr e) {
      if (e) ++tally.failures;
    });
  }
  ioc.run();
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  auto& m = tally.micros;
  std::sort(m.begin(), m.end());
  const auto pct = [&](double p) { return m.empty() ? 0.0 : m[static_cast<std::size_t>(p * (m.size() - 1))]; };
  std::printf("%-22s %5d %10.0f %10.3f %10.3f %8zu\n", name, connections,
              static_cast<double>(m.size()) / seconds, pct(0.5) / 1000, pct(0.99) / 1000,
              tally.failures);
}

}  // namespace

int main(int argc, char** argv) {
  const std::chrono::seconds length(argc > 1 ? std::stoi(argv[1]) : 3);
  std::printf("%-22s %5s %10s %10s %10s %8s\n", "scenario", "conns", "req/s", "p50 ms",
              "p99 ms", "failed");
  {
    BridgeProcess bridge;
    FakePlugin plugin(bridge.port(), bridge.token());
    plugin.set_handler([](const json& call) { return FakePlugin::ok(call, {{"pong", true}}); });
    if (!plugin.wait_welcome()) return 1;
    for (int connections : {1, 16, 64, 256}) {
      scenario("ping", bridge.port(), connections, length);
    }
  }
  {
    BridgeProcess bridge;
    FakePlugin plugin(bridge.port(), bridge.token());
    const std::string pad(1 << 20, 'x');
    plugin.set_handler(
        [&pad](const json& call) { return FakePlugin::ok(call, {{"pong", true}, {"pad", pad}}); });
    if (!plugin.wait_welcome()) return 1;
    scenario("ping, 1 MiB result", bridge.port(), 4, length);
  }
  return 0;
}
