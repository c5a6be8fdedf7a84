#include "server/mcp_stdio.hpp"

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <thread>

#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/process/v2/process.hpp>
#include <boost/process/v2/stdio.hpp>

#include "catalog/catalog.hpp"
#include "common/async.hpp"
#include "common/text.hpp"
#include "host/discovery.hpp"
#include "server/command_endpoint.hpp"
#include "server/mcp_endpoint.hpp"
#include "server/startup.hpp"

namespace cutrelay {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace bp = boost::process::v2;
namespace fs = std::filesystem;
using tcp = asio::ip::tcp;

fs::path own_directory() {
  std::error_code ec;
#if defined(__APPLE__)
  char buffer[4096];
  std::uint32_t size = sizeof buffer;
  if (_NSGetExecutablePath(buffer, &size) == 0) return fs::canonical(buffer, ec).parent_path();
#else
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) return self.parent_path();
#endif
  return fs::current_path(ec);
}

namespace {

// A JSON-RPC error for failures of the relay itself (no bridge, a bridge that went away).
constexpr int kBridgeUnavailable = -32000;

// How long a started bridge may take to write its connection file.
constexpr std::chrono::seconds kBridgeStartLimit{20};

void log(const std::string& line) { std::cerr << "[cutrelay-mcp] " << line << std::endl; }

struct Reply {
  enum Kind { Answered, NotDelivered, Lost } kind = NotDelivered;
  unsigned status = 0;
  std::string body;
  std::string session;
  std::string error;
};

class Relay {
 public:
  Relay(asio::io_context& ioc, fs::path bridge, fs::path state_dir)
      : ioc_(ioc), bridge_exe_(std::move(bridge)), state_dir_(std::move(state_dir)), wake_(ioc), init_done_(ioc) {}

  // One line from standard input, on the relay's thread.
  void on_line(std::string line) {
    ++in_flight_;
    spawn_logged(ioc_.get_executor(), handle_line(std::move(line)));
  }

  void on_overflow() {
    write_line(dump_compact(jsonrpc_error(
        nullptr, kInvalidRequest,
        "Request too large: a message may be at most " + std::to_string(kMaxCommandBody) + " bytes")));
  }

  // Standard input closed: finish what runs, then stop.
  void on_input_closed() {
    input_closed_ = true;
    maybe_finish();
  }

  void stop() {
    if (child_) {
      boost::system::error_code ec;
      child_->terminate(ec);
      child_->wait(ec);
      child_.reset();
    }
    ioc_.stop();
  }

 private:
  asio::awaitable<void> handle_line(std::string line) {
    co_await relay_line(std::move(line));
    --in_flight_;
    maybe_finish();
  }

  void maybe_finish() {
    if (input_closed_ && in_flight_ == 0) stop();
  }

  void write_line(const std::string& text) {
    std::string out = text + "\n";
    std::string_view rest = out;
    while (!rest.empty()) {
      const ssize_t n = ::write(STDOUT_FILENO, rest.data(), rest.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        // The client is gone; nobody will read another answer.
        stop();
        return;
      }
      rest.remove_prefix(static_cast<std::size_t>(n));
    }
  }

  void write_error(const json& id, int code, const std::string& message) {
    write_line(dump_compact(jsonrpc_error(id, code, message)));
  }

  static json request_id(const json& message) {
    if (message.is_object() && message.contains("method")) {
      const auto it = message.find("id");
      if (it != message.end() && (it->is_string() || it->is_number())) return *it;
    }
    return nullptr;
  }

  asio::awaitable<void> relay_line(std::string line) {
    const std::string_view text = trim(line, kAsciiSpace);
    if (text.empty()) co_return;
    JsonParseResult parsed = parse_json(text);
    if (!parsed.value) {
      write_error(nullptr, kParseError, "Parse error: " + parsed.error);
      co_return;
    }
    json message = std::move(*parsed.value);
    const json id = request_id(message);
    const bool initializing = message.is_object() && message.contains("method") &&
                              message["method"] == "initialize";
    if (initializing) {
      // Kept to open the same session again on a bridge that replaces this one.
      initialize_ = message;
      session_.clear();
      revision_.clear();
      ++initializing_;
      init_done_.expires_at(asio::steady_timer::time_point::max());
    } else {
      // What follows an initialize belongs to the session it opens: wait for it.
      while (initializing_ > 0) {
        auto [ec] = co_await init_done_.async_wait(nothrow);
        (void)ec;
      }
    }
    co_await relay_message(message, id, initializing);
    if (initializing && --initializing_ == 0) init_done_.cancel();
  }

  asio::awaitable<void> relay_message(const json& message, const json& id, bool initializing) {
    const std::string body = dump_compact(message);
    for (int attempt = 0; attempt < 2; ++attempt) {
      const std::uint64_t seen = generation_;
      if (!ready_ || (initialize_ && session_.empty() && !initializing)) {
        std::string why = co_await reconnect(seen, !initializing);
        if (!why.empty()) {
          if (!id.is_null()) write_error(id, kBridgeUnavailable, "cutrelay bridge unavailable: " + why);
          co_return;
        }
      }
      // (A conditional expression inside co_await miscompiles with GCC 12: keep it outside.)
      std::string session;
      if (!initializing) session = session_;
      Reply reply = co_await post(body, session);
      if (reply.kind == Reply::NotDelivered ||
          (reply.kind == Reply::Answered && reply.status == 404 && !session_.empty() && !initializing)) {
        // No bridge there any more (or a new one that does not know our session): find or
        // start one and send again; nothing of this request has run.
        if (generation_ == seen) ready_ = false;
        continue;
      }
      if (reply.kind == Reply::Lost) {
        if (generation_ == seen) ready_ = false;
        if (!id.is_null()) {
          write_error(id, kBridgeUnavailable,
                      "The cutrelay bridge stopped while this request was running (" + reply.error +
                          "); it is found again or restarted on the next request. Check the "
                          "project's state before repeating an edit.");
        }
        co_return;
      }
      if (initializing && (reply.status != 200 || reply.session.empty())) {
        initialize_.reset();  // refused: later messages go without a session, as they would
      } else if (initializing) {
        session_ = reply.session;
        JsonParseResult answer = parse_json(reply.body);
        if (answer.value && answer.value->contains("result")) {
          revision_ = (*answer.value)["result"].value("protocolVersion", "");
        }
      }
      // Notifications get no answer, not even an error (the bridge refuses one sent before
      // initialize, for example).
      const bool notification = message.is_object() && message.contains("method") &&
                                message["method"].is_string() && !message.contains("id");
      if (!notification) deliver(id, reply);
      co_return;
    }
    if (!id.is_null()) write_error(id, kBridgeUnavailable, "cutrelay bridge unavailable: it keeps going away");
  }

  void deliver(const json& id, const Reply& reply) {
    if (reply.status == 202 || reply.body.empty()) {
      if (reply.status >= 300 && !id.is_null()) {
        write_error(id, kInternalError, "The bridge answered HTTP " + std::to_string(reply.status));
      }
      return;
    }
    JsonParseResult parsed = parse_json(reply.body);
    if (parsed.value) {
      write_line(dump_compact(*parsed.value));
    } else if (!id.is_null()) {
      // A refusal in plain text (413 for a body over the limit, for example).
      write_error(id, reply.status == 413 ? kInvalidRequest : kInternalError,
                  "The bridge answered HTTP " + std::to_string(reply.status) + ": " +
                      std::string(trim(reply.body, kAsciiSpace)));
    }
  }

  // Makes sure a bridge answers (and, once the client has initialised, that it holds our
  // session). Only one reconnection runs at a time; the others wait for its outcome.
  // Returns an empty text on success, else why not.
  asio::awaitable<std::string> reconnect(std::uint64_t seen, bool with_session) {
    while (connecting_) {
      auto [ec] = co_await wake_.async_wait(nothrow);
      (void)ec;
    }
    if (generation_ != seen && ready_ && (!with_session || !initialize_ || !session_.empty())) {
      co_return std::string();
    }
    connecting_ = true;
    wake_.expires_at(asio::steady_timer::time_point::max());
    std::string why = co_await connect_bridge(with_session);
    ready_ = why.empty();
    ++generation_;
    connecting_ = false;
    wake_.cancel();
    co_return why;
  }

  asio::awaitable<std::string> connect_bridge(bool with_session) {
    // The bridge named by the connection file, when it answers.
    if (auto port = read_port(std::nullopt)) {
      port_ = *port;
      if (co_await open_session(with_session)) co_return std::string();
    }
    // Otherwise a bridge of our own.
    boost::system::error_code running_ec;
    if (child_ && child_->running(running_ec)) {
      boost::system::error_code ec;
      child_->terminate(ec);
      child_->wait(ec);
    }
    child_.reset();
    const fs::path exe = bridge_exe_;
    try {
      std::vector<std::string> args;
      child_.emplace(ioc_, exe.string(), args, bp::process_stdio{nullptr, stderr, stderr});
    } catch (const std::exception& e) {
      co_return "cannot start " + exe.string() + ": " + e.what();
    }
    log("started " + exe.string() + " (pid " + std::to_string(child_->id()) + ")");
    asio::steady_timer poll(ioc_);
    const auto deadline = std::chrono::steady_clock::now() + kBridgeStartLimit;
    for (;;) {
      if (auto port = read_port(child_->id())) {
        port_ = *port;
        break;
      }
      boost::system::error_code ec;
      if (!child_->running(ec)) co_return exe.string() + " exited at start (see its message above)";
      if (std::chrono::steady_clock::now() > deadline) {
        co_return exe.string() + " did not write " + (state_dir_ / "connection.json").string();
      }
      poll.expires_after(std::chrono::milliseconds(25));
      co_await poll.async_wait(nothrow);
    }
    if (co_await open_session(with_session)) co_return std::string();
    co_return "the bridge started but does not answer on port " + std::to_string(port_);
  }

  // The port of connection.json, when the file is whole (and written by `pid`, if given).
  std::optional<std::uint16_t> read_port(std::optional<int> pid) const {
    std::ifstream in(state_dir_ / "connection.json", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    JsonParseResult parsed = parse_json(text);
    if (!parsed.value || !parsed.value->is_object()) return std::nullopt;
    const json& file = *parsed.value;
    const auto port = file.find("port");
    if (port == file.end() || !port->is_number_unsigned() || *port == 0 || *port > 65535) return std::nullopt;
    if (pid) {
      const auto written_by = file.find("pid");
      if (written_by == file.end() || !written_by->is_number_integer() || *written_by != *pid) {
        return std::nullopt;
      }
    }
    return port->get<std::uint16_t>();
  }

  // Checks that port_ is a bridge; with a session wanted, opens it again with the client's
  // own initialize and tells the bridge the client is initialised.
  asio::awaitable<bool> open_session(bool with_session) {
    if (!with_session || !initialize_) {
      const std::string ping = R"({"jsonrpc":"2.0","id":0,"method":"ping"})";
      const std::string no_session;
      Reply reply = co_await post(ping, no_session);
      // A bridge answers a ping without a session with 400 and a JSON-RPC error.
      co_return reply.kind == Reply::Answered && parse_json(reply.body).value.has_value() &&
          reply.status == 400;
    }
    json again = *initialize_;
    again["id"] = "cutrelay-mcp-reconnect";
    const std::string text = dump_compact(again), no_session;
    Reply reply = co_await post(text, no_session);
    if (reply.kind != Reply::Answered || reply.status != 200 || reply.session.empty()) co_return false;
    session_ = reply.session;
    const std::string initialized = R"({"jsonrpc":"2.0","method":"notifications/initialized"})";
    co_await post(initialized, session_);
    log("session opened again on the bridge at port " + std::to_string(port_));
    co_return true;
  }

  asio::awaitable<Reply> post(const std::string& body, const std::string& session) {
    Reply result;
    beast::tcp_stream stream(ioc_);
    stream.expires_after(std::chrono::seconds(5));
    auto [cec] = co_await stream.async_connect(tcp::endpoint(asio::ip::address_v4::loopback(), port_), nothrow);
    if (cec) {
      result.error = cec.message();
      co_return result;
    }
    http::request<http::string_body> request{http::verb::post, "/mcp", 11};
    request.set(http::field::host, "127.0.0.1:" + std::to_string(port_));
    request.set(http::field::content_type, "application/json");
    request.set(http::field::accept, "application/json, text/event-stream");
    if (!session.empty()) request.set("Mcp-Session-Id", session);
    if (!session.empty() && !revision_.empty()) request.set("MCP-Protocol-Version", revision_);
    request.keep_alive(false);
    request.body() = body;
    request.prepare_payload();
    stream.expires_after(std::chrono::seconds(30));
    auto [wec, wn] = co_await http::async_write(stream, request, nothrow);
    if (wec) {
      // The request never arrived whole, so nothing of it ran.
      result.error = wec.message();
      co_return result;
    }
    // A tool call lasts as long as its verb's time-out; the bridge enforces that.
    stream.expires_never();
    beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    parser.body_limit(std::uint64_t{1} << 30);
    auto [rec, rn] = co_await http::async_read(stream, buffer, parser, nothrow);
    if (rec) {
      result.kind = Reply::Lost;
      result.error = rec.message();
      co_return result;
    }
    auto response = parser.release();
    result.kind = Reply::Answered;
    result.status = response.result_int();
    if (auto it = response.find("Mcp-Session-Id"); it != response.end()) {
      result.session = std::string(it->value());
    }
    result.body = std::move(response.body());
    co_return result;
  }

  asio::io_context& ioc_;
  fs::path bridge_exe_;
  fs::path state_dir_;
  std::optional<bp::process> child_;
  std::uint16_t port_ = 0;
  bool ready_ = false;
  bool connecting_ = false;
  std::uint64_t generation_ = 0;
  asio::steady_timer wake_;
  asio::steady_timer init_done_;
  int initializing_ = 0;
  std::optional<json> initialize_;
  std::string session_;
  std::string revision_;
  int in_flight_ = 0;
  bool input_closed_ = false;
};

}  // namespace

int run_stdio_relay(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--version") {
      std::cout << "cutrelay-mcp " << kVersion << std::endl;
      return 0;
    }
  }
  asio::io_context ioc(1);
  Relay relay(ioc, own_directory() / "cutrelay", state_dir_for(home_dir()));

  // A client that ends us by signal takes our bridge with it.
  asio::signal_set signals(ioc, SIGINT, SIGTERM);
  signals.async_wait([&](const boost::system::error_code& ec, int) {
    if (!ec) relay.stop();
  });

  // Standard input may be a pipe, a terminal or a file, which not every event mechanism can
  // watch; a plain blocking reader thread handles them all and hands lines over.
  std::thread reader([&ioc, &relay] {
    LineSplitter lines(kMaxCommandBody);
    char chunk[65536];
    for (;;) {
      const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      lines.feed(
          std::string_view(chunk, static_cast<std::size_t>(n)),
          [&](std::string line) { asio::post(ioc, [&relay, line = std::move(line)]() mutable { relay.on_line(std::move(line)); }); },
          [&] { asio::post(ioc, [&relay] { relay.on_overflow(); }); });
    }
    // A last message without its line end still counts; a cut-off one gets a parse error.
    if (lines.overflowing()) {
      asio::post(ioc, [&relay] { relay.on_overflow(); });
    } else if (std::string rest = lines.rest(); !rest.empty()) {
      asio::post(ioc, [&relay, rest = std::move(rest)]() mutable { relay.on_line(std::move(rest)); });
    }
    asio::post(ioc, [&relay] { relay.on_input_closed(); });
  });
  reader.detach();

  auto guard = asio::make_work_guard(ioc);
  ioc.run();
  // The reader thread may still be blocked on standard input; it ends with the process.
  std::cout.flush();
  std::_Exit(0);
}

}  // namespace cutrelay
