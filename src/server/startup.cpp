#include "server/startup.hpp"

#include <sys/resource.h>
#include <unistd.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <climits>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <vector>

#include <boost/beast/core/string.hpp>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/signal_set.hpp>

#include "catalog/catalog.hpp"
#include "common/crypto.hpp"
#include "common/files.hpp"
#include "common/log.hpp"
#include "common/text.hpp"
#include "common/event_loop.hpp"
#include "host/discovery.hpp"
#include "hub/bridge_state.hpp"
#include "server/command_line.hpp"
#include "server/http_server.hpp"
#include "server/stdin_watch.hpp"

namespace cutrelay {

namespace asio = boost::asio;
namespace fs = std::filesystem;
using tcp = asio::ip::tcp;

std::string bind_host_from_env() {
  const char* value = std::getenv("QUOR_BIND_HOST");
  if (value == nullptr || !is_valid_utf8(value)) return std::string(kDefaultBindHost);
  return value;
}

namespace {

std::string os_error_text(const boost::system::error_code& ec) {
  return ec.message() + " (os error " + std::to_string(ec.value()) + ")";
}

}  // namespace

BindOutcome bind_listener(asio::io_context& ioc, const std::string& host, std::uint16_t port) {
  BindOutcome out;
  std::vector<tcp::endpoint> endpoints;
  boost::system::error_code ec;
  const auto literal = asio::ip::make_address(host, ec);
  if (!ec) {
    endpoints.emplace_back(literal, port);
  } else {
    tcp::resolver resolver(ioc);
    const auto results = resolver.resolve(host, std::to_string(port), ec);
    if (ec) {
      out.error = "failed to lookup address information: " + ec.message();
      return out;
    }
    for (const auto& entry : results) endpoints.push_back(entry.endpoint());
  }
  if (endpoints.empty()) {
    out.error = "could not resolve to any address";
    return out;
  }
  for (const auto& endpoint : endpoints) {
    tcp::acceptor acceptor(ioc);
    boost::system::error_code step;
    acceptor.open(endpoint.protocol(), step);
    if (!step) acceptor.set_option(asio::socket_base::reuse_address(true), step);
    if (!step) acceptor.bind(endpoint, step);
    if (!step) acceptor.listen(128, step);
    if (!step) {
      out.acceptor.emplace(std::move(acceptor));
      out.error.clear();
      return out;
    }
    out.error = os_error_text(step);
  }
  return out;
}

fs::path state_dir_for(const fs::path& home) { return home / ".quor" / "cutrelay"; }

std::optional<std::uint64_t> raise_descriptor_limit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return std::nullopt;
  rlim_t target = limit.rlim_max;
  // Children inherit the limit; some old tools walk every descriptor number up to it.
  constexpr rlim_t kEnough = 65536;
  if (target == RLIM_INFINITY || target > kEnough) target = kEnough;
#if defined(__APPLE__)
  if (target > OPEN_MAX) target = OPEN_MAX;
#endif
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < target) {
    rlimit raised{target, limit.rlim_max};
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit.rlim_cur = target;
  }
  return static_cast<std::uint64_t>(limit.rlim_cur);
}

bool agent_token_required(bool switch_given, const char* env_value) {
  if (switch_given) return true;
  if (env_value == nullptr) return false;
  const std::string_view value = trim(env_value, kAsciiSpace);
  for (std::string_view on : {"1", "true", "yes", "on"}) {
    if (boost::beast::iequals(value, on)) return true;
  }
  return false;
}

std::string make_token() {
  constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string token;
  token.reserve(kTokenLength);
  while (token.size() < kTokenLength) {
    // The top six bits give 0..63; rejecting 62 and 63 keeps every character equally likely.
    const std::string bytes = secure_random_bytes(4);
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data(), sizeof value);
    const std::uint32_t pick = value >> 26;
    if (pick < kAlphabet.size()) token.push_back(kAlphabet[pick]);
  }
  return token;
}

std::string load_or_create_token(const fs::path& dir) {
  const fs::path file = dir / "token";
  if (auto text = read_file(file, 1u << 20); text && is_valid_utf8(*text)) {
    const std::string_view trimmed = trim(*text, kAsciiSpace);
    if (trimmed.size() >= kMinTokenLength) return std::string(trimmed);
  }
  std::string token = make_token();
  write_private_file(file, token);
  return token;
}

json connection_info(std::uint16_t port, const std::string& token) {
  return {
      {"bridgeVersion", kVersion},
      {"pid", static_cast<std::int64_t>(::getpid())},
      {"port", port},
      {"protocol", kProtocol},
      {"token", token},
      {"url", "ws://127.0.0.1:" + std::to_string(port) + "/ws?token=" + token},
  };
}

void write_connection_file(const fs::path& dir, std::uint16_t port, const std::string& token) {
  write_private_file(dir / "connection.json", dump_pretty(connection_info(port, token)));
}

void remove_connection_file_if_ours(const fs::path& dir, std::int64_t pid) {
  const fs::path file = dir / "connection.json";
  const auto text = read_file(file, 1u << 20);
  if (!text) return;
  const auto parsed = parse_json(*text);
  if (!parsed.value || !parsed.value->is_object()) return;
  const auto found = parsed.value->find("pid");
  if (found == parsed.value->end() || !found->is_number_integer() ||
      found->get<std::int64_t>() != pid)
    return;
  std::error_code ec;
  fs::remove(file, ec);
}

int run_bridge(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
#ifdef __GLIBC__
  // Results of a megabyte or more pass through several buffers per request. By default
  // glibc maps each large block afresh and returns it on free, so every request touches
  // fresh pages (a page fault costs more than the copy). Keep freed blocks for reuse.
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif

  std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const CommandLine options = parse_command_line(args);
  if (options.version) {
    std::cout << "cutrelay " << kVersion << std::endl;
    return 0;
  }
  if (options.help) {
    std::cout << kUsage << std::flush;
    return 0;
  }

  raise_descriptor_limit();
  // One I/O thread serves every connection, agents' and plug-ins' alike, so a forwarded call
  // and its result never change threads; file and CPU work goes to the blocking pool
  // (common/blocking.hpp). bench/RESULTS.md has the measurements behind the choice.
  asio::io_context ioc(1);
  auto keep_running = asio::make_work_guard(ioc);

  const std::string host = bind_host_from_env();
  BindOutcome bound = bind_listener(ioc, host, options.port);
  if (!bound.acceptor) {
    write_line_now("bind " + host + ":" + std::to_string(options.port) + ": " + bound.error);
    return 101;
  }
  boost::system::error_code ec;
  const auto local = bound.acceptor->local_endpoint(ec);
  const std::uint16_t port = ec ? options.port : local.port();

  const fs::path dir = state_dir_for(home_dir());
  std::error_code fs_ec;
  fs::create_directories(dir, fs_ec);

  auto state = std::make_shared<BridgeState>();
  state->token = load_or_create_token(dir);
  state->data_dir = dir;
  state->port = port;
  state->require_agent_token =
      agent_token_required(options.require_agent_token, std::getenv("QUOR_REQUIRE_AGENT_TOKEN"));

  write_connection_file(dir, port, state->token);

  // An interrupt or terminate still ends the bridge by the signal's own default action (so
  // a parent sees how it ended), but in order: the connection file is taken back, the I/O
  // loop stops, and then the signal is raised again. Nothing is torn down after that.
  int stopped_by = 0;
  asio::signal_set stop_signals(ioc, SIGINT, SIGTERM);
  stop_signals.async_wait(
      [dir, &ioc, &stopped_by](const boost::system::error_code& wait_ec, int signal_number) {
        if (wait_ec) return;
        remove_connection_file_if_ours(dir, static_cast<std::int64_t>(::getpid()));
        stopped_by = signal_number;
        ioc.stop();
      });

  start_http_server(state, std::move(*bound.acceptor));
  if (exit_with_stdin_requested()) exit_when_stdin_ends(ioc);
  // One write: a reader that parses the first line it sees never gets half of it.
  write_line_now("[cutrelay " + std::string(kVersion) + "] listening on " + host + ":" +
                 std::to_string(port) + " data=" + dir.string());

  run_until_stopped(ioc);
  flush_log();
  if (stopped_by != 0) {
    std::signal(stopped_by, SIG_DFL);
    std::raise(stopped_by);
  }
  return 0;
}

}  // namespace cutrelay
