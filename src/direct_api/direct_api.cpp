#include "direct_api/direct_api.hpp"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>

#include "common/async.hpp"
#include "common/files.hpp"
#include "common/text.hpp"
#include "host/discovery.hpp"

namespace cutrelay {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using namespace std::chrono_literals;

namespace {

constexpr std::string_view kHttpScheme = "http://";
constexpr std::chrono::milliseconds kTimeLimit = 60s;

std::optional<std::string> env_text(std::string_view name) {
  const char* value = std::getenv(std::string(name).c_str());
  if (value == nullptr || !is_valid_utf8(value)) return std::nullopt;
  return std::string(value);
}

std::string lower_ascii(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return out;
}

// A chunk-size line: hexadecimal digits with at most one leading "+", nothing else (no
// extension), within 64 bits.
std::optional<std::uint64_t> chunk_size(std::string_view line) {
  line = trim(line, kAsciiSpace);
  if (line.starts_with('+')) line.remove_prefix(1);
  if (line.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : line) {
    unsigned digit = 0;
    if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
    else return std::nullopt;
    if (value > (UINT64_MAX >> 4)) return std::nullopt;
    value = value << 4 | digit;
  }
  return value;
}

bool is_continuation_byte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Everything one exchange needs, shared with the deadline's handler, which may run after
// the exchange has returned.
struct Connection {
  explicit Connection(const asio::any_io_executor& ex) : resolver(ex), socket(ex), timer(ex) {}
  tcp::resolver resolver;
  tcp::socket socket;
  asio::steady_timer timer;
  bool timed_out = false;
};

struct Target {
  std::string host;
  std::string port;
  std::optional<asio::ip::address> address;  // set for a literal IP address
  std::string error;
};

// "host:port", "a.b.c.d:port" or "[v6]:port". A literal address is used as it stands; any
// other host is looked up by name.
Target split_target(std::string_view host_port) {
  Target t;
  const auto colon = host_port.rfind(':');
  if (colon == std::string_view::npos) {
    t.error = "invalid socket address";
    return t;
  }
  std::string_view host = host_port.substr(0, colon);
  const std::string_view port = host_port.substr(colon + 1);
  const bool digits = !port.empty() && port.size() <= 5 &&
                      std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (!digits || std::stoul(std::string(port)) > 65535) {
    t.error = "invalid port value";
    return t;
  }
  const bool bracketed = host.size() >= 2 && host.front() == '[' && host.back() == ']';
  if (bracketed) host = host.substr(1, host.size() - 2);
  boost::system::error_code ec;
  const auto address = asio::ip::make_address(std::string(host), ec);
  if (!ec && (bracketed == address.is_v6())) t.address = address;
  else if (bracketed) {
    t.error = "invalid socket address";
    return t;
  }
  t.host = std::string(host);
  t.port = std::string(port);
  return t;
}

asio::awaitable<DirectApiResult> talk(Connection& c, std::string host_port, std::string request) {
  const Target target = split_target(host_port);
  if (!target.error.empty()) co_return DirectApiResult::fail(target.error);

  std::vector<tcp::endpoint> endpoints;
  const auto port = static_cast<std::uint16_t>(std::stoul(target.port));
  if (target.address) {
    endpoints.emplace_back(*target.address, port);
  } else {
    // The resolver does the blocking look-up on a thread of its own.
    auto [ec, results] = co_await c.resolver.async_resolve(target.host, target.port,
                                                           tcp::resolver::numeric_service, nothrow);
    if (ec) co_return DirectApiResult::fail(ec.message());
    for (const auto& entry : results) endpoints.push_back(entry.endpoint());
    if (endpoints.empty()) co_return DirectApiResult::fail("could not resolve to any address");
  }

  boost::system::error_code last;
  bool connected = false;
  for (const auto& endpoint : endpoints) {
    if (c.timed_out) break;
    boost::system::error_code ignored;
    c.socket.close(ignored);
    auto [ec] = co_await c.socket.async_connect(endpoint, nothrow);
    if (!ec) {
      connected = true;
      break;
    }
    last = ec;
  }
  if (!connected) co_return DirectApiResult::fail(last.message());

  if (auto [ec, n] = co_await asio::async_write(c.socket, asio::buffer(request), nothrow); ec) {
    co_return DirectApiResult::fail(ec.message());
  }
  std::string received;
  for (;;) {
    const std::size_t old = received.size();
    received.resize(old + 65536);
    auto [ec, n] = co_await c.socket.async_read_some(asio::buffer(received.data() + old, 65536), nothrow);
    received.resize(old + n);
    if (ec == asio::error::eof) break;
    if (ec) co_return DirectApiResult::fail(ec.message());
    if (received.size() > kMaxDirectApiAnswer) {
      co_return DirectApiResult::fail("Quor Bridge's answer is larger than " +
                                      std::to_string(kMaxDirectApiAnswer >> 20) + " MiB");
    }
  }
  co_return read_direct_api_answer(received);
}

// Runs on a strand of its own, so the deadline's handler never races the socket's use.
asio::awaitable<DirectApiResult> exchange(std::string host_port, std::string request,
                                          std::chrono::milliseconds limit) {
  auto c = std::make_shared<Connection>(co_await asio::this_coro::executor);
  c->timer.expires_after(limit);
  c->timer.async_wait([c](boost::system::error_code ec) {
    if (ec) return;
    c->timed_out = true;
    c->resolver.cancel();
    boost::system::error_code ignored;
    c->socket.close(ignored);
  });
  DirectApiResult result = co_await talk(*c, std::move(host_port), std::move(request));
  c->timer.cancel();  // releases the handler's hold on the connection
  if (c->timed_out) co_return DirectApiResult::fail("Quor Bridge timed out");
  co_return result;
}

}  // namespace

Endpoint direct_api_endpoint(const std::optional<std::string>& url_var,
                             const std::optional<std::string>& port_file) {
  std::string endpoint;
  if (url_var) {
    endpoint = *url_var;
    while (endpoint.ends_with('/')) endpoint.pop_back();
  } else if (port_file) {
    const std::string_view text = trim(*port_file, kAsciiSpace);
    endpoint = std::string(text.find(':') != std::string_view::npos ? "http://" : "http://127.0.0.1:") +
               std::string(text);
  } else {
    return {{}, "Quor Bridge direct API not found (QUOR_DIRECT_API_URL unset)"};
  }
  if (!endpoint.starts_with(kHttpScheme)) return {{}, "direct API must be http://"};
  return {endpoint.substr(kHttpScheme.size()), {}};
}

Endpoint find_direct_api_endpoint() {
  std::optional<std::string> port_file;
  const auto url = env_text(kDirectApiUrlVar);
  if (!url) {
    port_file = read_file(home_dir() / ".quor" / "direct-api-port", 1u << 20);
    if (port_file && !is_valid_utf8(*port_file)) port_file.reset();
  }
  return direct_api_endpoint(url, port_file);
}

std::string direct_api_request(std::string_view host_port, std::string_view command,
                               const json& args, std::string_view token) {
  const std::string body = dump_compact(json{{"args", args}, {"command", command}});
  std::string out;
  out.reserve(body.size() + 200);
  out += "POST /command HTTP/1.1\r\n";
  out += "Host: ";
  out += host_port;
  out += "\r\nContent-Type: application/json\r\n";
  out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  out += "Connection: close\r\n";
  if (!token.empty()) {
    out += kDirectApiTokenHeader;
    out += ": ";
    out += token;
    out += "\r\n";
  }
  out += "\r\n";
  out += body;
  return out;
}

std::string dechunk(std::string_view body) {
  std::string result;
  std::string_view rest = body;
  for (;;) {
    const auto line_end = rest.find("\r\n");
    if (line_end == std::string_view::npos) break;
    const auto size = chunk_size(rest.substr(0, line_end));
    rest.remove_prefix(line_end + 2);
    if (!size || *size == 0 || *size > rest.size()) break;
    // A chunk that would end inside a multi-byte character is treated as one that runs
    // past the data: the text gathered so far stays valid UTF-8.
    if (*size < rest.size() && is_continuation_byte(rest[*size])) break;
    result.append(rest.substr(0, *size));
    rest.remove_prefix(*size);
    while (rest.starts_with("\r\n")) rest.remove_prefix(2);
  }
  return result;
}

DirectApiResult read_direct_api_answer(std::string_view received) {
  const std::string text = to_valid_utf8(received);
  const auto split = text.find("\r\n\r\n");
  if (split == std::string::npos) return DirectApiResult::fail("bad HTTP response");
  const std::string_view head = std::string_view(text).substr(0, split);
  std::string_view body = std::string_view(text).substr(split + 4);
  std::string unchunked;
  if (lower_ascii(head).find("transfer-encoding: chunked") != std::string::npos) {
    unchunked = dechunk(body);
    body = unchunked;
  }
  JsonParseResult parsed = parse_json(body);
  if (!parsed.value) return DirectApiResult::fail("bad JSON from Quor Bridge: " + parsed.error);
  json value = std::move(*parsed.value);
  if (value.is_object()) {
    const auto output = value.find("output");
    if (output != value.end() && output->is_string()) {
      JsonParseResult inner = parse_json(output->get_ref<const std::string&>());
      if (inner.value) *output = std::move(*inner.value);
    }
  }
  return {std::move(value), {}};
}

std::chrono::milliseconds direct_api_time_limit() {
  const char* value = std::getenv("CUTRELAY_TEST_DIRECT_API_TIMEOUT_MS");
  if (value == nullptr || *value == '\0') return kTimeLimit;
  char* end = nullptr;
  const unsigned long long ms = std::strtoull(value, &end, 10);
  if (*end != '\0') return kTimeLimit;
  return std::chrono::milliseconds(std::min<unsigned long long>(ms, kTimeLimit.count()));
}

asio::awaitable<DirectApiResult> direct_api_call(std::string command, json args) {
  const Endpoint endpoint = find_direct_api_endpoint();
  if (!endpoint.error.empty()) co_return DirectApiResult::fail(endpoint.error);
  const std::string token = env_text(kDirectApiTokenVar).value_or("");
  std::string request = direct_api_request(endpoint.host_port, command, args, token);
  auto strand = asio::make_strand(co_await asio::this_coro::executor);
  auto task = exchange(endpoint.host_port, std::move(request), direct_api_time_limit());
  co_return co_await asio::co_spawn(strand, std::move(task), asio::use_awaitable);
}

}  // namespace cutrelay
