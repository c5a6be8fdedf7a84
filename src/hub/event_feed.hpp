#pragma once
// The numbered log of events pushed by the plug-ins, and the `events` verb that reads it.
#include <cstddef>

#include "hub/bridge_state.hpp"

namespace cutrelay {

inline constexpr std::size_t kEventLogSize = 200;

// Numbers the event (replacing any `seq` the plug-in sent) and appends it to the log,
// which keeps the newest 200.
void record_event(BridgeState& state, json event);

// The `events` verb: every kept event numbered above `sinceSeq`, and the last number given.
json events_answer(BridgeState& state, const json& args);

}  // namespace cutrelay
