#include "server/mcp_stdio.hpp"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <semaphore>
#include <thread>
#include <vector>

#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>

#include "catalog/catalog.hpp"
#include "common/async.hpp"
#include "common/child_process.hpp"
#include "common/text.hpp"
#include "host/discovery.hpp"
#include "server/command_endpoint.hpp"
#include "server/mcp_endpoint.hpp"
#include "server/startup.hpp"
#include "server/stdin_watch.hpp"

namespace cutrelay {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
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

// Finds the top-level "id" of a JSON-RPC message, stopping as soon as it is read, so a text
// cut short after it still yields it.
class IdFinder final : public nlohmann::json_sax<json> {
 public:
  std::optional<json> id;

  bool null() override { return scalar(); }
  bool boolean(bool) override { return scalar(); }
  bool number_integer(number_integer_t value) override { return scalar(json(value)); }
  bool number_unsigned(number_unsigned_t value) override { return scalar(json(value)); }
  bool number_float(number_float_t, const string_t&) override { return scalar(); }
  bool string(string_t& value) override { return scalar(json(value)); }
  bool binary(binary_t&) override { return scalar(); }
  bool start_object(std::size_t) override {
    at_id_ = false;
    ++depth_;
    return true;
  }
  bool key(string_t& name) override {
    at_id_ = depth_ == 1 && name == "id";
    return true;
  }
  bool end_object() override {
    --depth_;
    return depth_ > 0;
  }
  bool start_array(std::size_t) override {
    at_id_ = false;
    ++depth_;
    // A batch has no one id.
    return depth_ > 1;
  }
  bool end_array() override {
    --depth_;
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const json::exception&) override { return false; }

 private:
  // A value at the top level ends the search when it was the id's (the id found, or an id
  // that cannot be echoed exactly, such as 1.5).
  bool scalar(std::optional<json> value = std::nullopt) {
    if (!at_id_) return true;
    id = std::move(value);
    return false;
  }
  int depth_ = 0;
  bool at_id_ = false;
};

}  // namespace

std::optional<json> readable_id(std::string_view start) {
  IdFinder finder;
  json::sax_parse(start.begin(), start.end(), &finder);
  return std::move(finder.id);
}

void EventStreamReader::feed(std::string_view bytes, const std::function<void(std::string)>& on_data) {
  for (char c : bytes) {
    if (c != '\n') {
      line_.push_back(c);
      continue;
    }
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    if (line_.empty()) {
      // A blank line ends the event.
      if (has_data_) on_data(std::exchange(data_, {}));
      has_data_ = false;
    } else if (line_.starts_with("data:")) {
      std::string_view value = std::string_view(line_).substr(5);
      if (value.starts_with(' ')) value.remove_prefix(1);
      if (has_data_) data_ += '\n';
      data_ += value;
      has_data_ = true;
    }  // event names, ids, retry times and comments say nothing the relay needs
    line_.clear();
  }
}

namespace {

// A JSON-RPC error for failures of the relay itself (no bridge, a bridge that went away).
constexpr int kBridgeUnavailable = -32000;

// How long a started bridge may take to write its connection file.
constexpr std::chrono::seconds kBridgeStartLimit{20};

// Connections to the bridge, in use or idle, and how long an idle one is kept: well under
// the bridge's own idle time-out, so a kept connection is not one it is closing.
constexpr std::size_t kMaxConnections = 16;
constexpr std::chrono::seconds kIdleConnectionLife{10};

// Messages read from the client and not yet answered; beyond it the relay stops reading.
constexpr std::ptrdiff_t kMaxInFlight = 64;

// How long the result of a streamed call waits after its last progress notification.
constexpr std::chrono::milliseconds kResultAfterProgress{25};

// How long a child the relay started gets to end after SIGTERM.
constexpr std::chrono::milliseconds kChildGrace{3000};

void log(const std::string& line) { std::cerr << "[cutrelay-mcp] " << line << std::endl; }

bool is_event_stream(std::string_view content_type) {
  return beast::iequals(trim(content_type.substr(0, content_type.find(';')), kAsciiSpace), "text/event-stream");
}

struct Reply {
  enum Kind { Answered, NotDelivered, Lost } kind = NotDelivered;
  unsigned status = 0;
  std::string body;
  std::string session;
  std::string error;
  bool streamed = false;  // its events went to the client as they came
};

// One keep-alive connection to the bridge.
struct Connection {
  explicit Connection(const asio::any_io_executor& ex) : stream(ex) {}
  beast::tcp_stream stream;
  beast::flat_buffer buffer;
  std::uint64_t generation = 0;  // of the bridge it belongs to
  std::chrono::steady_clock::time_point idle_since;
};

// Whether an idle connection is still open and clean: the bridge has not closed it, and
// sent nothing unasked.
bool still_open(Connection& connection) {
  if (connection.buffer.size() > 0) return false;
  char byte;
  const ssize_t n = ::recv(connection.stream.socket().native_handle(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

// Whether the simulator should run beside a bridge the relay starts: as `make run` decides,
// CUTRELAY_SIMULATOR=0 or 1, else when no Premiere Pro is installed.
bool simulator_wanted(bool& explicitly) {
  const char* setting = std::getenv("CUTRELAY_SIMULATOR");
  explicitly = setting != nullptr && (std::string_view(setting) == "0" || std::string_view(setting) == "1");
  if (explicitly) return std::string_view(setting) == "1";
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(system_path("/Applications"), ec)) {
    if (entry.path().filename().string().starts_with(kAppNamePrefix) && entry.is_directory(ec)) return false;
  }
  return true;
}

class Relay {
 public:
  Relay(asio::io_context& ioc, fs::path program_dir, fs::path state_dir)
      : ioc_(ioc),
        program_dir_(std::move(program_dir)),
        state_dir_(std::move(state_dir)),
        wake_(ioc),
        init_done_(ioc),
        slot_free_(ioc) {
    slot_free_.expires_at(asio::steady_timer::time_point::max());
  }

  // Called after each line is answered, so the reader may take another.
  std::function<void()> line_done;

  // One line from standard input, on the relay's thread.
  void on_line(std::string line) {
    ++in_flight_;
    spawn_logged(ioc_.get_executor(), handle_line(std::move(line)));
  }

  // A line over the limit: refused, with its id where its start shows it.
  void on_overflow(const std::string& start) {
    write_error(readable_id(start).value_or(nullptr), kInvalidRequest,
                "Request too large: a message may be at most " + std::to_string(kMaxCommandBody) + " bytes");
  }

  // Standard input closed: finish what runs, then stop.
  void on_input_closed() {
    input_closed_ = true;
    maybe_finish();
  }

  // Ends what the relay started, then the relay.
  void stop() {
    // Closing the pipe tells both children at once; SIGTERM follows for each in turn.
    if (watch_write_ >= 0) ::close(std::exchange(watch_write_, -1));
    if (bridge_pid_ > 0) end_child(bridge_pid_, kChildGrace);
    if (simulator_pid_ > 0) end_child(simulator_pid_, kChildGrace);
    bridge_pid_ = simulator_pid_ = -1;
    drop_idle();
    ioc_.stop();
  }

 private:
  asio::awaitable<void> handle_line(std::string line) {
    co_await relay_line(std::move(line));
    --in_flight_;
    if (line_done) line_done();
    maybe_finish();
  }

  void maybe_finish() {
    if (input_closed_ && in_flight_ == 0) stop();
  }

  void write_line(std::string_view text) {
    std::string out(text);
    out += '\n';
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

  // The id to answer a request with: its own when it is one the bridge echoes exactly.
  static json request_id(const json& message) {
    if (message.is_object() && message.contains("method")) {
      const auto it = message.find("id");
      if (it != message.end() && (it->is_string() || it->is_number_integer())) return *it;
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
    // The text goes to the bridge as it came: the id is not rewritten in the passing.
    co_await relay_message(message, std::string(text), id, initializing);
    if (initializing && --initializing_ == 0) init_done_.cancel();
  }

  asio::awaitable<void> relay_message(const json& message, const std::string& body, const json& id,
                                      bool initializing) {
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
      if (!notification && !reply.streamed) deliver(id, reply);
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
    // Connections to the bridge as it was are not used again.
    ++generation_;
    drop_idle();
    std::string why = co_await connect_bridge(with_session);
    ready_ = why.empty();
    connecting_ = false;
    wake_.cancel();
    co_return why;
  }

  asio::awaitable<std::string> connect_bridge(bool with_session) {
    // The bridge named by the connection file, when it answers.
    if (read_connection_file(std::nullopt)) {
      if (co_await open_session(with_session)) co_return std::string();
    }
    // Otherwise a bridge of our own.
    if (std::string why = start_bridge(); !why.empty()) co_return why;
    asio::steady_timer poll(ioc_);
    const auto deadline = std::chrono::steady_clock::now() + kBridgeStartLimit;
    const std::string exe = (program_dir_ / "cutrelay").string();
    while (!read_connection_file(bridge_pid_)) {
      if (!child_running(bridge_pid_)) {
        bridge_pid_ = -1;
        co_return exe + " exited at start (see its message above)";
      }
      if (std::chrono::steady_clock::now() > deadline) {
        co_return exe + " did not write " + (state_dir_ / "connection.json").string();
      }
      poll.expires_after(std::chrono::milliseconds(25));
      co_await poll.async_wait(nothrow);
    }
    if (std::string why = start_simulator(); !why.empty()) co_return why;
    if (co_await open_session(with_session)) co_return std::string();
    co_return "the bridge started but does not answer on port " + std::to_string(port_);
  }

  // A pipe only the relay holds the writing end of, given as standard input to what it
  // starts: when the relay ends, however it ends, they read its end and stop.
  int watch_pipe() {
    if (watch_read_ < 0) {
      int fds[2];
      if (make_private_pipe(fds)) {
        watch_read_ = fds[0];
        watch_write_ = fds[1];
      }
    }
    return watch_read_;
  }

  ChildStdio child_stdio() {
    // Their output goes to our standard error: standard output carries the protocol.
    return ChildStdio{watch_pipe(), STDERR_FILENO, STDERR_FILENO,
                      {std::string(kExitWithStdinVariable) + "=1"}};
  }

  // Starts `cutrelay` from beside this program; an empty text on success.
  std::string start_bridge() {
    if (bridge_pid_ > 0) end_child(bridge_pid_, kChildGrace);
    bridge_pid_ = -1;
    const std::string exe = (program_dir_ / "cutrelay").string();
    StartedChild bridge = start_child(exe, {}, child_stdio());
    if (bridge.pid < 0) return "cannot start " + exe + ": " + bridge.error;
    bridge_pid_ = bridge.pid;
    log("started " + exe + " (pid " + std::to_string(bridge_pid_) + ")");
    return {};
  }

  // Starts the simulator beside a bridge of ours when it should run and does not yet, from
  // the checkout this program was built in (<checkout>/build/cutrelay-mcp runs
  // <checkout>/sim/main.js). Without it the bridge still serves; only when
  // CUTRELAY_SIMULATOR=1 asks for it is its absence a failure.
  std::string start_simulator() {
    if (simulator_pid_ > 0 && child_running(simulator_pid_)) return {};
    simulator_pid_ = -1;
    bool explicitly = false;
    if (!simulator_wanted(explicitly)) return {};
    const fs::path checkout = program_dir_.parent_path();
    const fs::path main = checkout / "sim" / "main.js";
    std::error_code ec;
    std::string why;
    std::string node = find_program("node");
    const fs::path bundled = checkout / "tests" / "conformance" / "node_modules" / ".bin" / "node";
    if (node.empty() && fs::exists(bundled, ec)) node = bundled.string();
    if (!fs::is_regular_file(main, ec)) {
      why = main.string() + " is not there (cutrelay-mcp finds the simulator in the checkout it was built in)";
    } else if (node.empty()) {
      why = "no node on PATH nor at " + bundled.string();
    } else {
      StartedChild simulator = start_child(node, {main.string(), "--direct-api"}, child_stdio());
      if (simulator.pid < 0) {
        why = simulator.error;
      } else {
        simulator_pid_ = simulator.pid;
        log("started the Premiere simulator " + main.string() + " (pid " + std::to_string(simulator_pid_) +
            "): no Premiere Pro is installed, or CUTRELAY_SIMULATOR=1");
        return {};
      }
    }
    log("cannot start the Premiere simulator: " + why);
    return explicitly ? "CUTRELAY_SIMULATOR=1, but the simulator cannot start: " + why : std::string();
  }

  // Reads port and token from connection.json when the file is whole (and written by `pid`,
  // if given).
  bool read_connection_file(std::optional<int> pid) {
    std::ifstream in(state_dir_ / "connection.json", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    JsonParseResult parsed = parse_json(text);
    if (!parsed.value || !parsed.value->is_object()) return false;
    const json& file = *parsed.value;
    const auto port = file.find("port");
    if (port == file.end() || !port->is_number_unsigned() || *port == 0 || *port > 65535) return false;
    if (pid) {
      const auto written_by = file.find("pid");
      if (written_by == file.end() || !written_by->is_number_integer() || *written_by != *pid) return false;
    }
    port_ = port->get<std::uint16_t>();
    const auto token = file.find("token");
    token_ = token != file.end() && token->is_string() ? token->get<std::string>() : std::string();
    return true;
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

  // A connection to the bridge: an idle one that is still open, else a new one while fewer
  // than kMaxConnections are open, else the first that is given back.
  asio::awaitable<std::unique_ptr<Connection>> acquire(std::string& error) {
    for (;;) {
      while (!idle_.empty()) {
        std::unique_ptr<Connection> connection = std::move(idle_.back());
        idle_.pop_back();
        const bool fresh = std::chrono::steady_clock::now() - connection->idle_since < kIdleConnectionLife;
        if (connection->generation == generation_ && fresh && still_open(*connection)) co_return connection;
        --open_;
      }
      if (open_ < kMaxConnections) {
        ++open_;
        auto connection = std::make_unique<Connection>(ioc_.get_executor());
        connection->generation = generation_;
        connection->stream.expires_after(std::chrono::seconds(5));
        auto [ec] = co_await connection->stream.async_connect(
            tcp::endpoint(asio::ip::address_v4::loopback(), port_), nothrow);
        if (ec) {
          give_back(std::move(connection), false);
          error = ec.message();
          co_return nullptr;
        }
        boost::system::error_code ignored;
        connection->stream.socket().set_option(tcp::no_delay(true), ignored);
        co_return connection;
      }
      auto [ec] = co_await slot_free_.async_wait(nothrow);
      (void)ec;
    }
  }

  void drop_idle() {
    open_ -= idle_.size();
    idle_.clear();
    slot_free_.cancel();
  }

  void give_back(std::unique_ptr<Connection> connection, bool reusable) {
    if (reusable && connection->generation == generation_) {
      connection->idle_since = std::chrono::steady_clock::now();
      idle_.push_back(std::move(connection));
    } else {
      --open_;
    }
    slot_free_.cancel();  // wakes every waiter; each looks again
  }

  asio::awaitable<Reply> post(const std::string& body, const std::string& session) {
    Reply result;
    std::unique_ptr<Connection> connection = co_await acquire(result.error);
    if (!connection) co_return result;
    beast::tcp_stream& stream = connection->stream;
    http::request<http::string_body> request{http::verb::post, "/mcp", 11};
    request.set(http::field::host, "127.0.0.1:" + std::to_string(port_));
    request.set(http::field::content_type, "application/json");
    request.set(http::field::accept, "application/json, text/event-stream");
    // Always: a bridge that asks agents for the token (QUOR_REQUIRE_AGENT_TOKEN) takes us too.
    if (!token_.empty()) request.set(http::field::authorization, "Bearer " + token_);
    if (!session.empty()) request.set("Mcp-Session-Id", session);
    if (!session.empty() && !revision_.empty()) request.set("MCP-Protocol-Version", revision_);
    request.keep_alive(true);
    request.body() = body;
    request.prepare_payload();
    stream.expires_after(std::chrono::seconds(30));
    auto [wec, wn] = co_await http::async_write(stream, request, nothrow);
    if (wec) {
      // The request never arrived whole, so nothing of it ran.
      give_back(std::move(connection), false);
      result.error = wec.message();
      co_return result;
    }
    // A tool call lasts as long as its verb's time-out; the bridge enforces that.
    stream.expires_never();
    http::response_parser<http::string_body> parser;
    parser.body_limit(std::uint64_t{1} << 30);
    auto [hec, hn] = co_await http::async_read_header(stream, connection->buffer, parser, nothrow);
    beast::error_code rec = hec;
    if (!rec && is_event_stream(parser.get()[http::field::content_type])) {
      // Progress, then the result: each event goes to the client as it arrives, but the
      // last (the result) a moment after the others. The official SDK client handles a
      // notification a moment after reading it and a response at once, dropping the
      // progress callback: a notification read together with its response would be lost.
      parser.body_limit(boost::none);
      EventStreamReader events;
      std::optional<std::string> held;
      bool notified = false;
      const auto hold = [&](std::string data) {
        if (held) {
          write_line(*held);
          notified = true;
        }
        held = std::move(data);
      };
      while (!rec && !parser.is_done()) {
        std::tie(rec, std::ignore) = co_await http::async_read_some(stream, connection->buffer, parser, nothrow);
        std::string& arrived = parser.get().body();
        events.feed(arrived, hold);
        arrived.clear();
      }
      if (held && notified && !rec) {
        asio::steady_timer pause(ioc_, kResultAfterProgress);
        co_await pause.async_wait(nothrow);
      }
      if (held) write_line(*held);
      result.streamed = true;
    } else if (!rec) {
      std::tie(rec, std::ignore) = co_await http::async_read(stream, connection->buffer, parser, nothrow);
    }
    if (rec) {
      give_back(std::move(connection), false);
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
    give_back(std::move(connection), response.keep_alive());
    co_return result;
  }

  asio::io_context& ioc_;
  fs::path program_dir_;
  fs::path state_dir_;
  int bridge_pid_ = -1;
  int simulator_pid_ = -1;
  int watch_read_ = -1;
  int watch_write_ = -1;
  std::uint16_t port_ = 0;
  std::string token_;
  bool ready_ = false;
  bool connecting_ = false;
  std::uint64_t generation_ = 0;
  asio::steady_timer wake_;
  asio::steady_timer init_done_;
  asio::steady_timer slot_free_;
  std::vector<std::unique_ptr<Connection>> idle_;
  std::size_t open_ = 0;
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
  Relay relay(ioc, own_directory(), state_dir_for(home_dir()));

  // A client that ends us by signal takes what we started with it.
  asio::signal_set signals(ioc, SIGINT, SIGTERM);
  signals.async_wait([&](const boost::system::error_code& ec, int) {
    if (!ec) relay.stop();
  });

  // At most kMaxInFlight messages are read ahead of their answers: a client that floods the
  // relay waits for it, instead of making it hold every message at once.
  std::counting_semaphore<kMaxInFlight> slots(kMaxInFlight);
  relay.line_done = [&slots] { slots.release(); };

  // Standard input may be a pipe, a terminal or a file, which not every event mechanism can
  // watch; a plain blocking reader thread handles them all and hands lines over.
  std::thread reader([&ioc, &relay, &slots] {
    LineSplitter lines(kMaxCommandBody);
    char chunk[65536];
    const auto on_line = [&](std::string line) {
      slots.acquire();
      asio::post(ioc, [&relay, line = std::move(line)]() mutable { relay.on_line(std::move(line)); });
    };
    const auto on_overflow = [&](std::string start) {
      asio::post(ioc, [&relay, start = std::move(start)] { relay.on_overflow(start); });
    };
    for (;;) {
      const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      lines.feed(std::string_view(chunk, static_cast<std::size_t>(n)), on_line, on_overflow);
    }
    // A last message without its line end still counts; a cut-off one gets a parse error.
    const bool overflowing = lines.overflowing();
    if (std::string rest = lines.rest(); overflowing) {
      on_overflow(std::move(rest));
    } else if (!rest.empty()) {
      on_line(std::move(rest));
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
