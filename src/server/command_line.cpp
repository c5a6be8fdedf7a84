#include "server/command_line.hpp"

namespace cutrelay {

std::optional<std::uint16_t> parse_port(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
    if (value > 65535) return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

CommandLine parse_command_line(std::span<const std::string_view> args) {
  CommandLine result;
  constexpr std::string_view kPortEq = "--port=";
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (arg == "--version") {
      result.version = true;
      return result;
    }
    if (arg == "--port") {
      // The next argument is the value whatever it looks like, "--version" included.
      const bool has_value = i + 1 < args.size();
      result.port = has_value ? parse_port(args[i + 1]).value_or(0) : 0;
      if (has_value) ++i;
    } else if (arg.starts_with(kPortEq)) {
      result.port = parse_port(arg.substr(kPortEq.size())).value_or(0);
    } else if (arg == "--require-agent-token") {
      result.require_agent_token = true;
    }
  }
  return result;
}

}  // namespace cutrelay
