#pragma once
// A scriptable stand-in for the companion application's direct API: an HTTP server on a
// loopback port that records each request's bytes and answers with bytes a test chooses
// (well-formed or not), or accepts and then says nothing. Runs on its own thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace cutrelay::testing {

using json = nlohmann::json;

class FakeDirectApi {
 public:
  struct Reply {
    std::string raw;      // written as it is, then the connection is closed
    bool silent = false;  // keep the connection open and never answer
    bool flood = false;   // after `raw`, send bytes without end until the client hangs up
  };
  // Called with the request's parsed body ({args, command}) or null when it is not JSON.
  using Handler = std::function<Reply(const json& body)>;

  FakeDirectApi();
  ~FakeDirectApi();
  FakeDirectApi(const FakeDirectApi&) = delete;
  FakeDirectApi& operator=(const FakeDirectApi&) = delete;

  std::uint16_t port() const;
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port()); }

  void set_handler(Handler handler);
  std::vector<std::string> requests() const;  // every request's bytes, in order
  // Floods that ended because the client hung up.
  int floods_cut_off() const;

  // A 200 answer carrying `body` as JSON, with Content-Length or chunked in `chunk` pieces.
  static Reply json_reply(const json& body, std::size_t chunk = 0);

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace cutrelay::testing
