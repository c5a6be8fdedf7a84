#pragma once
// The one shared record of a running bridge. Created once at start, shared by every
// request and plug-in connection, never replaced. Only the bridge's one I/O thread reads
// or changes it (docs/ARCHITECTURE.md, "Threads and executors").
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>

#include "common/json_util.hpp"
#include "hub/registry.hpp"

namespace cutrelay {

inline constexpr std::chrono::milliseconds kPingInterval{15000};
inline constexpr std::chrono::milliseconds kHandshakeTimeout{10000};

struct BridgeState {
  std::string token;
  std::filesystem::path data_dir;
  Clock::time_point started_at = Clock::now();

  // Connected plug-ins and the calls waiting on them.
  PluginRegistry registry;

  std::uint64_t next_call_id = 1;
  std::uint64_t next_conn_id = 1;

  // The plug-ins' events, newest last, and the number of the newest ever recorded.
  std::deque<json> events;
  std::uint64_t event_seq = 0;

  // How long a plug-in connection stays quiet before the bridge sends a ping.
  std::chrono::milliseconds ping_interval = kPingInterval;
  // How long a challenged plug-in connection has to prove it knows the token.
  std::chrono::milliseconds handshake_timeout = kHandshakeTimeout;

  std::uint16_t port = 0;

  // Whether agents must send "Authorization: Bearer <token>" to /command and /mcp
  // (QUOR_REQUIRE_AGENT_TOKEN=1 or --require-agent-token). Off by default: any local
  // process may run commands.
  bool require_agent_token = false;
};

using StatePtr = std::shared_ptr<BridgeState>;

}  // namespace cutrelay
