#include "hub/event_feed.hpp"

#include "common/args.hpp"

namespace cutrelay {

void record_event(BridgeState& state, json event) {
  if (!event.is_object()) return;
  event["seq"] = ++state.event_seq;
  state.events.push_back(std::move(event));
  while (state.events.size() > kEventLogSize) state.events.pop_front();
}

json events_answer(BridgeState& state, const json& args) {
  const std::uint64_t since = arg_uint(args, "sinceSeq").value_or(0);
  json events = json::array();
  for (const json& event : state.events) {
    if (event.value("seq", std::uint64_t{0}) > since) events.push_back(event);
  }
  return {{"events", std::move(events)}, {"lastSeq", state.event_seq}, {"success", true}};
}

}  // namespace cutrelay
