#pragma once
// The fuller reports beside readiness: the `status` verb (everything the bridge knows, and a
// live ping through the UXP plug-in) and the light, summary and tooltip served on /health.
#include <optional>

#include <boost/asio/awaitable.hpp>

#include "hub/bridge_state.hpp"

namespace cutrelay {

struct HealthFacts {
  bool running = false;             // a Premiere Pro process runs
  std::optional<json> uxp_hello;    // the UXP plug-in's stored hello, when it is connected
  bool cep_connected = false;
  std::uint64_t uptime_sec = 0;
};

// The /health body for a set of facts.
json health_report_from(const HealthFacts& facts);

boost::asio::awaitable<json> health_report(StatePtr state);

// The `status` verb's answer (before decoration).
boost::asio::awaitable<json> status_answer(StatePtr state);

}  // namespace cutrelay
