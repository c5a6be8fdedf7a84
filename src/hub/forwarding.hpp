#pragma once
// Forwarding a verb to an in-app plug-in as a call, and matching its result by id.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <variant>

#include <boost/asio/awaitable.hpp>

#include "hub/bridge_state.hpp"
#include "hub/verb_context.hpp"

namespace cutrelay {

inline constexpr std::uint64_t kMaxForwardTimeout = 3600;
inline constexpr std::uint64_t kMaxWaitForPlugin = 600;
inline constexpr std::uint64_t kDefaultWaitForPlugin = 90;

struct CallError {
  enum Kind { NotConnected, Disconnected, TimedOut } kind;
  std::uint64_t seconds = 0;  // the time-out, for TimedOut
};

// The plug-in's result message, or why there is none.
using CallOutcome = std::variant<json, CallError>;

// Sends {type:"call", id, verb, args} to the plug-in registered under `runtime` and waits
// up to `timeout` for the result with the same id. The awaiting coroutine must run on the
// bridge's I/O thread, as every connection's coroutine does.
boost::asio::awaitable<CallOutcome> call_plugin(StatePtr state, PluginRuntime runtime,
                                                std::string_view verb, json args,
                                                std::chrono::seconds timeout);
// The same, with the runtime named "uxp" or "cep" (any other name is never connected).
boost::asio::awaitable<CallOutcome> call_plugin(StatePtr state, std::string runtime,
                                                std::string verb, json args,
                                                std::chrono::seconds timeout);

// The text of a call: {"args":…,"id":…,"type":"call","verb":…}, compact and sorted.
std::string call_text(std::uint64_t id, std::string_view verb, const json& args);

// The answer to give when the UXP plug-in is not connected. Why it is not (no install,
// Premiere not running, the plug-in missing) is host control's knowledge, which sits above
// the hub, so the caller hands it in.
using NotConnectedAnswer = boost::asio::awaitable<json> (*)(StatePtr);

// Runs a catalogued plug-in verb (name without the prefix) and builds its answer. A verb
// the catalog marks as reporting progress (export_sequence) reports the plug-in's
// export events that arrive while it runs.
boost::asio::awaitable<json> forward_verb(StatePtr state, std::string verb, json args,
                                          NotConnectedAnswer not_connected,
                                          Progress progress = {});

// Waits until the UXP plug-in is connected, polling every 500 ms and reporting how long it
// has waited about once a second.
boost::asio::awaitable<json> wait_for_plugin(StatePtr state, json args,
                                             NotConnectedAnswer not_connected,
                                             Progress progress = {});

// The progress report an export event of the plug-in ({kind, data}) stands for, or
// nothing for other events. `percent` is what was reported so far; it is kept.
std::optional<ProgressReport> export_progress_report(const json& event, double& percent);

// The answer for a plug-in's result message.
json answer_from_result(json message);

json unknown_verb_answer(std::string_view verb);
json cep_not_connected_answer(bool uxp_connected);
json disconnected_answer();
json timed_out_answer(std::uint64_t seconds);

// The `timeoutSec` of a forwarded call: the request's when it is a non-negative integer,
// else the verb's default, kept within 1..3600.
std::uint64_t forward_timeout(const json& args, std::uint64_t default_seconds);

// Fills in the output location the catalog names for `verb` when the caller gave none.
void add_default_paths(std::string_view verb, json& args, const std::filesystem::path& previews);

// <state dir>/previews, created when missing (failures are ignored).
std::filesystem::path previews_dir(const BridgeState& state);

}  // namespace cutrelay
