#pragma once
// Process start: the bind host, the listener, the state directory, the token and the
// connection file the in-app plug-ins read.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "common/json_util.hpp"

namespace cutrelay {

inline constexpr std::string_view kDefaultBindHost = "127.0.0.1";
inline constexpr std::size_t kTokenLength = 48;
inline constexpr std::size_t kMinTokenLength = 32;

// QUOR_BIND_HOST, or 127.0.0.1 when unset or not valid UTF-8 (an empty value stays empty).
std::string bind_host_from_env();

struct BindOutcome {
  std::optional<boost::asio::ip::tcp::acceptor> acceptor;
  std::string error;  // the reason when no address could be bound
};

// Binds a listener (address reuse, backlog 128) on the host, an IP literal or a name whose
// addresses are tried in turn.
BindOutcome bind_listener(boost::asio::io_context& ioc, const std::string& host,
                          std::uint16_t port);

// ~/.quor/cutrelay for a home directory.
std::filesystem::path state_dir_for(const std::filesystem::path& home);

// 48 characters from A-Z, a-z, 0-9, drawn from the operating system's entropy source.
std::string make_token();

// The token kept in `dir`/token when it holds at least 32 bytes besides surrounding white
// space; otherwise a new token, written there with mode 600 (write failures are ignored).
std::string load_or_create_token(const std::filesystem::path& dir);

json connection_info(std::uint16_t port, const std::string& token);

// Writes `dir`/connection.json (mode 600); failures are ignored.
void write_connection_file(const std::filesystem::path& dir, std::uint16_t port,
                           const std::string& token);

// Removes `dir`/connection.json when it still names process `pid`, so plug-ins stop dialling
// a port that nobody serves; a file that another bridge has written since is left alone.
void remove_connection_file_if_ours(const std::filesystem::path& dir, std::int64_t pid);

// Raises the soft limit on open descriptors towards the hard one (at most 65536; on macOS
// at most OPEN_MAX, the most setrlimit accepts there), so that a default as low as macOS's
// 256 does not cap how many agents and plug-ins can be connected. Returns the soft limit
// in force afterwards, or nothing when it cannot be read.
std::optional<std::uint64_t> raise_descriptor_limit();

// Whether agents must present the token: the switch, or QUOR_REQUIRE_AGENT_TOKEN set to 1
// (or true, yes, on, in any case).
bool agent_token_required(bool switch_given, const char* env_value);

// The whole program; returns the process exit status.
int run_bridge(int argc, char** argv);

}  // namespace cutrelay
