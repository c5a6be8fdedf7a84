#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace cutrelay {

struct CommandLine {
  std::uint16_t port = 0;  // 0 lets the system pick a free port
  bool version = false;    // "--version" was seen: print the version line and exit
  bool help = false;       // "--help" or "-h" was seen: print the usage and exit
  bool require_agent_token = false;  // "--require-agent-token": agents must send the token
};

// What "--help" prints: the options, the environment variables and the files.
extern const char* const kUsage;

// An optional leading '+' and one or more ASCII digits worth at most 65535.
std::optional<std::uint16_t> parse_port(std::string_view text);

// Reads the arguments after the program name, left to right. Unknown arguments are
// ignored; the last "--port" wins; reading stops at "--version" or "--help".
CommandLine parse_command_line(std::span<const std::string_view> args);

}  // namespace cutrelay
