#include "hub/event_feed.hpp"

#include "common/args.hpp"

namespace cutrelay {

void record_event(BridgeState& state, json event) {
  if (!event.is_object()) return;
  std::deque<json> dropped;
  {
    // Numbered under the log's lock: `lastSeq` read under the same lock never names an
    // event that is not in the log yet.
    std::lock_guard lock(state.events.mutex);
    const std::uint64_t seq = state.event_seq.fetch_add(1) + 1;
    event["seq"] = seq;
    state.events.log.push_back(std::move(event));
    while (state.events.log.size() > kEventLogSize) {
      dropped.push_back(std::move(state.events.log.front()));
      state.events.log.pop_front();
    }
  }
}

json events_answer(BridgeState& state, const json& args) {
  const std::uint64_t since = arg_uint(args, "sinceSeq").value_or(0);
  json events = json::array();
  std::uint64_t last_seq;
  {
    std::lock_guard lock(state.events.mutex);
    for (const json& event : state.events.log) {
      if (event.value("seq", std::uint64_t{0}) > since) events.push_back(event);
    }
    last_seq = state.event_seq.load();
  }
  return {{"events", std::move(events)}, {"lastSeq", last_seq}, {"success", true}};
}

}  // namespace cutrelay
