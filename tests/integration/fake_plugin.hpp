#pragma once
// A scriptable stand-in for an in-app plug-in: connects to a bridge's /ws, says hello,
// records what it receives and answers calls as a test tells it to. Runs on its own thread.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace cutrelay::testing {

using json = nlohmann::json;

class FakePlugin {
 public:
  struct Reply {
    std::optional<json> message;  // sent as it is; nothing is sent when empty
    std::chrono::milliseconds delay{0};
    bool drop = false;  // cut the connection instead of answering
  };
  using Handler = std::function<Reply(const json& call)>;

  struct Options {
    std::string runtime = "uxp";  // empty: say no hello
    json hello = json::object();  // further members of the hello
  };

  FakePlugin(std::uint16_t port, const std::string& token, Options options);
  FakePlugin(std::uint16_t port, const std::string& token) : FakePlugin(port, token, Options{}) {}
  ~FakePlugin();
  FakePlugin(const FakePlugin&) = delete;
  FakePlugin& operator=(const FakePlugin&) = delete;

  // {type:"result", id, ok:true, result}
  static Reply ok(const json& call, json result);
  // {type:"result", id, ok:false, error, errorCode}
  static Reply fail(const json& call, const std::string& code, const std::string& message);

  // By default every call is answered at once with ok {verb, args}.
  void set_handler(Handler handler);

  void send(const std::string& text, bool binary = false);
  void send_json(const json& message) { send(message.dump()); }

  std::vector<json> calls() const;
  std::vector<json> messages() const;  // every message received, in order
  bool wait_until(const std::function<bool()>& done,
                  std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
  // Waits for the welcome that answers the hello.
  bool wait_welcome(std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
  bool connected() const;

  void close();  // a normal WebSocket close
  void drop();   // the TCP connection just goes away

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace cutrelay::testing
