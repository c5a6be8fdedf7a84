// Round trip of a forwarded premiere_ping: agent -> bridge -> fake plug-in -> bridge ->
// agent, over one keep-alive HTTP connection, against the real binary.
//
//   build/bench_ping_roundtrip [iterations]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <boost/beast/http/verb.hpp>

#include "bridge_process.hpp"
#include "fake_plugin.hpp"
#include "http_client.hpp"

using namespace cutrelay::testing;

int main(int argc, char** argv) {
  const int iterations = argc > 1 ? std::stoi(argv[1]) : 5000;
  BridgeProcess bridge;
  FakePlugin plugin(bridge.port(), bridge.token());
  if (!plugin.wait_welcome()) {
    std::fprintf(stderr, "plug-in did not register\n");
    return 1;
  }
  HttpConnection connection(bridge.port());
  const std::string body = R"({"command":"premiere_ping"})";
  const Headers headers = {{"Content-Type", "application/json"}};
  std::vector<double> micros;
  micros.reserve(iterations);
  for (int i = 0; i < iterations + 200; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const HttpResult r = connection.request(boost::beast::http::verb::post, "/command", body, headers);
    const auto end = std::chrono::steady_clock::now();
    if (r.status != 200 || r.body.find("\"success\":true") == std::string::npos) {
      std::fprintf(stderr, "bad answer: %s\n", r.body.c_str());
      return 1;
    }
    if (i >= 200) micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
  }
  std::sort(micros.begin(), micros.end());
  const auto pct = [&](double p) { return micros[static_cast<std::size_t>(p * (micros.size() - 1))]; };
  std::printf("forwarded premiere_ping, %d sequential round trips on one connection\n", iterations);
  std::printf("p50 %.0f us  p90 %.0f us  p99 %.0f us  max %.0f us\n", pct(0.5), pct(0.9), pct(0.99),
              micros.back());
  return 0;
}
