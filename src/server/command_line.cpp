#include "server/command_line.hpp"

namespace cutrelay {

const char* const kUsage =
    "usage: cutrelay [--port <n>] [--require-agent-token] [--version] [--help]\n"
    "\n"
    "A local bridge that lets AI agents edit video in Adobe Premiere Pro. It listens on the\n"
    "loopback interface: POST /command (or /) takes one JSON command, /mcp serves the same\n"
    "verbs as MCP tools, GET /health reports the state, and /ws is where the in-app plug-ins\n"
    "connect. It runs until it is stopped.\n"
    "\n"
    "options:\n"
    "  --port <n>, --port=<n>  listen on this port (0, the default, lets the system pick one)\n"
    "  --require-agent-token   agents must send Authorization: Bearer <token> to /command\n"
    "                          and /mcp (the token of connection.json)\n"
    "  --version               print the version and exit\n"
    "  -h, --help              print this text and exit\n"
    "\n"
    "environment:\n"
    "  QUOR_BIND_HOST        address or host name to listen on (default 127.0.0.1)\n"
    "  QUOR_REQUIRE_AGENT_TOKEN=1  the same as --require-agent-token\n"
    "  QUOR_DIRECT_API_URL   the companion application's direct API (http://host:port)\n"
    "  QUOR_BRIDGE_TOKEN     the token sent to that direct API\n"
    "  HOME, USERPROFILE     where the state directory lives\n"
    "\n"
    "files:\n"
    "  ~/.quor/cutrelay/connection.json  port and token for the plug-ins (removed when the\n"
    "                                    bridge is stopped with SIGINT or SIGTERM)\n"
    "  ~/.quor/cutrelay/token            the secret token, kept across starts\n"
    "  ~/.quor/cutrelay/previews/        rendered preview frames\n"
    "  ~/.quor/direct-api-port           the direct API's port, when the variable is unset\n";

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
    if (arg == "--help" || arg == "-h") {
      result.help = true;
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
