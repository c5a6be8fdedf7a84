#pragma once
// A small blocking HTTP/1.1 client for tests, on Beast, plus raw socket helpers for
// requests no well-behaved client would send.
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/beast/http/verb.hpp>
#include <nlohmann/json.hpp>

namespace cutrelay::testing {

using json = nlohmann::json;
using Headers = std::vector<std::pair<std::string, std::string>>;

struct HttpResult {
  unsigned status = 0;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  bool keep_alive = false;
};

// One keep-alive connection.
class HttpConnection {
 public:
  explicit HttpConnection(std::uint16_t port,
                          std::chrono::milliseconds timeout = std::chrono::seconds(30));
  ~HttpConnection();
  HttpResult request(boost::beast::http::verb method, const std::string& target,
                     const std::string& body = {}, const Headers& headers = {});
  // Whether the server has closed the connection (reads EOF within the wait).
  bool closed_by_peer(std::chrono::milliseconds wait);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

HttpResult http_request(std::uint16_t port, boost::beast::http::verb method,
                        const std::string& target, const std::string& body = {},
                        const Headers& headers = {},
                        std::chrono::milliseconds timeout = std::chrono::seconds(30));

// POST with the JSON content type to /command.
HttpResult post_json(std::uint16_t port, const std::string& body, const std::string& target = "/command");

// POSTs a command body and parses the answer (throws unless it is 200 JSON).
json post_command(std::uint16_t port, const json& body);

// A connection that sends raw bytes and reads what comes back as it comes: for answers
// that stream (MCP progress), where the test waits for one part before it acts.
class StreamingConnection {
 public:
  explicit StreamingConnection(std::uint16_t port);
  ~StreamingConnection();
  void send(const std::string& bytes);
  // Reads until what was received contains `text`; false when the time runs out or the
  // peer closes first.
  bool read_until(const std::string& text, std::chrono::milliseconds limit);
  const std::string& received() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Sends raw bytes, then reads until the peer closes or the time runs out.
std::string raw_exchange(std::uint16_t port, const std::string& bytes,
                         std::chrono::milliseconds timeout = std::chrono::seconds(5),
                         bool half_close = false);

}  // namespace cutrelay::testing
