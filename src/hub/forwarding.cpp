#include "hub/forwarding.hpp"
#include "common/async.hpp"

#include <cmath>
#include <limits>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "catalog/catalog.hpp"
#include "common/args.hpp"
#include "hub/event_feed.hpp"
#include "hub/plugin_hub.hpp"

namespace cutrelay {

namespace asio = boost::asio;
namespace fs = std::filesystem;
using namespace asio::experimental::awaitable_operators;


std::string call_text(std::uint64_t id, std::string_view verb, const json& args) {
  // Members in ascending order, as every object the bridge writes: args, id, type, verb.
  std::string text = "{\"args\":";
  text += dump_compact(args);
  text += ",\"id\":";
  text += std::to_string(id);
  text += ",\"type\":\"call\",\"verb\":";
  text += dump_compact(json(verb));
  text += '}';
  return text;
}

asio::awaitable<CallOutcome> call_plugin(StatePtr state, PluginRuntime runtime,
                                         std::string_view verb, json args,
                                         std::chrono::seconds timeout) {
  const std::uint64_t id = state->next_call_id++;
  auto text = std::make_shared<const std::string>(call_text(id, verb, args));
  const auto executor = co_await asio::this_coro::executor;
  auto slot = std::make_shared<CallSlot>(executor);

  // The one owner of the pending entry: whatever way this function is left (an outcome,
  // an exception, the coroutine destroyed), the entry goes. A delivered result or a
  // disconnect has removed it already.
  struct ForgetOnExit {
    PluginRegistry& registry;
    const CallSlot& slot;
    std::uint64_t id;
    ~ForgetOnExit() {
      const auto settled = slot.state();
      if (settled != CallSlot::State::Answered && settled != CallSlot::State::Closed) {
        registry.forget_call(id);
      }
    }
  } forget{state->registry, *slot, id};

  if (!state->registry.file_call(runtime, id, slot, std::move(text))) {
    co_return CallError{CallError::NotConnected};
  }

  // Whatever woke the waiter, the slot's state decides: a result that landed as the
  // deadline passed still wins.
  const CallSlot::State outcome = co_await slot->settled(Clock::now() + timeout);
  switch (outcome) {
    case CallSlot::State::Answered:
      co_return slot->take_message();
    case CallSlot::State::Closed:
      co_return CallError{CallError::Disconnected};
    default:
      co_return CallError{CallError::TimedOut, static_cast<std::uint64_t>(timeout.count())};
  }
}

asio::awaitable<CallOutcome> call_plugin(StatePtr state, std::string runtime, std::string verb,
                                         json args, std::chrono::seconds timeout) {
  const auto named = runtime_named(runtime);
  if (!named) co_return CallError{CallError::NotConnected};
  co_return co_await call_plugin(std::move(state), *named, verb, std::move(args), timeout);
}

json answer_from_result(json message) {
  const auto ok = message.find("ok");
  if (ok != message.end() && ok->is_boolean() && ok->get<bool>()) {
    json answer = {{"success", true}};
    // Results can be megabytes: members are moved, not copied.
    const auto result = message.find("result");
    if (result != message.end() && result->is_object()) {
      for (auto& [key, value] : result->items()) {
        if (key != "success") answer[key] = std::move(value);
      }
    } else if (result != message.end() && !result->is_null()) {
      answer["result"] = std::move(*result);
    }
    if (const auto warnings = message.find("warnings"); warnings != message.end()) {
      answer["warnings"] = std::move(*warnings);
    }
    return answer;
  }
  const auto text_or = [&message](const char* key, const char* fallback) -> json {
    const auto it = message.find(key);
    return it != message.end() && it->is_string() ? std::move(*it) : json(fallback);
  };
  const auto stack = message.find("stack");
  json answer = {
      {"success", false},
      {"error", text_or("error", "plugin error")},
      {"errorCode", text_or("errorCode", "premiere_error")},
      {"stack", stack != message.end() ? std::move(*stack) : json(nullptr)},
  };
  // An edit that Premiere did not apply says what was meant and what the project shows.
  for (const char* key : {"expected", "found"}) {
    if (const auto it = message.find(key); it != message.end()) answer[key] = std::move(*it);
  }
  return answer;
}

json unknown_verb_answer(std::string_view verb) {
  return {
      {"success", false},
      {"errorCode", "unknown_verb"},
      {"error", "unknown verb premiere_" + std::string(verb)},
      {"_hint",
       "Call premiere_describe for the full verb catalog. Anything the catalog doesn't cover can "
       "be done with premiere_eval (raw JS against the premierepro UXP API)."},
  };
}

json cep_not_connected_answer(bool uxp_connected) {
  return {
      {"success", false},
      {"errorCode", "cep_not_connected"},
      {"error", "This verb runs in the Quor CEP helper (ExtendScript/QE), which isn't connected."},
      {"_hint",
       uxp_connected
           ? "The UXP plugin is up but the CEP helper isn't. Run premiere_install_plugin "
             "(installs the helper + enables unsigned CEP), then restart Premiere "
             "(premiere_quit {save:true}, premiere_launch). It starts invisibly with Premiere."
           : "Neither in-app plugin is connected. premiere_readiness says what's missing."},
      {"_next", {"premiere_install_plugin", "premiere_quit", "premiere_launch"}},
  };
}

json disconnected_answer() {
  return {
      {"success", false},
      {"errorCode", "plugin_disconnected"},
      {"error",
       "Premiere's UXP plugin disconnected mid-call (Premiere quit, crashed, or the plugin "
       "reloaded)."},
      {"_hint",
       "Check premiere_status. If Premiere is still up, the plugin reconnects within ~3s — retry "
       "once. If the verb mutated the timeline, call premiere_get_sequence before retrying so you "
       "don't apply it twice."},
  };
}

json timed_out_answer(std::uint64_t seconds) {
  return {
      {"success", false},
      {"errorCode", "plugin_timeout"},
      {"stillRunning", true},
      {"statusVerb", "premiere_status"},
      {"error", "Premiere didn't answer within " + std::to_string(seconds) +
                    "s. A modal dialog in Premiere blocks scripting, or the operation is "
                    "genuinely long."},
      {"_hint",
       "Call premiere_status (shows whether Premiere is responsive). For long exports use "
       "premiere_export_sequence (it returns immediately and you poll premiere_export_status). "
       "You can pass a bigger timeoutSec."},
  };
}

std::uint64_t forward_timeout(const json& args, std::uint64_t default_seconds) {
  const std::uint64_t seconds = arg_uint(args, "timeoutSec").value_or(default_seconds);
  return std::clamp<std::uint64_t>(seconds, 1, kMaxForwardTimeout);
}

fs::path previews_dir(const BridgeState& state) {
  fs::path dir = state.data_dir / "previews";
  std::error_code ec;
  fs::create_directories(dir, ec);
  return dir;
}

namespace {

// The milliseconds of a `time` given in seconds, cut toward zero and saturating at the
// limits of a signed 64-bit integer, as a float-to-integer cast is expected to behave; 0
// for anything but a number.
std::int64_t whole_milliseconds(const json& args) {
  const auto time = args.find("time");
  const double seconds = time != args.end() && time->is_number() ? time->get<double>() : 0;
  const double ms = std::trunc(seconds * 1000.0);
  if (std::isnan(ms)) return 0;
  if (ms >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
  if (ms <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(ms);
}

}  // namespace

void add_default_paths(std::string_view verb, json& args, const fs::path& previews) {
  const VerbRecord* record = find_verb(verb);
  if (record == nullptr || !args.is_object()) return;
  switch (record->default_path) {
    case DefaultPath::None:
      return;
    case DefaultPath::PreviewsDir:
      if (!args.contains("dir")) args["dir"] = previews.string();
      return;
    case DefaultPath::QeFramePath:
      if (!args.contains("path")) {
        args["path"] = (previews / ("qe_" + std::to_string(whole_milliseconds(args)) + "ms.png")).string();
      }
      return;
  }
}

namespace {

std::string text_of(const json& object, const char* key) {
  if (!object.is_object()) return {};
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// Whether an export event concerns `output`: it names that file (as outputFile or output,
// the in-app export's name for it, or among outputFiles), or names no file at all.
bool concerns(const json& data, const std::string& output) {
  if (output.empty() || !data.is_object()) return true;
  bool named = false;
  const auto same = [&](const json& file) {
    if (!file.is_string()) return false;
    named = true;
    return file == output;
  };
  for (const char* key : {"outputFile", "output"}) {
    if (const auto it = data.find(key); it != data.end() && same(*it)) return true;
  }
  if (const auto it = data.find("outputFiles"); it != data.end() && it->is_array()) {
    for (const json& file : *it) {
      if (same(file)) return true;
    }
  }
  return !named;
}

// Reports the export events logged after `since` and moves `since` past them.
void report_export_events(BridgeState& state, std::uint64_t& since, const std::string& output,
                          const Progress& progress, double& percent) {
  json logged = events_answer(state, json{{"sinceSeq", since}});
  for (const json& event : logged["events"]) {
    if (!concerns(event.contains("data") ? event["data"] : json(), output)) continue;
    if (auto step = export_progress_report(event, percent)) progress(std::move(*step));
  }
  since = logged["lastSeq"].get<std::uint64_t>();
}

// Watches the event log while an export call runs; ends when cancelled.
asio::awaitable<void> watch_export_events(StatePtr state, std::uint64_t& since, std::string output,
                                          Progress progress, double& percent) {
  asio::steady_timer pause(co_await asio::this_coro::executor);
  for (;;) {
    report_export_events(*state, since, output, progress, percent);
    pause.expires_after(std::chrono::milliseconds(250));
    auto [ec] = co_await pause.async_wait(nothrow);
    if (ec) co_return;
  }
}

asio::awaitable<void> call_into(CallOutcome& outcome, StatePtr state, PluginRuntime target,
                                std::string verb, json args, std::chrono::seconds timeout) {
  outcome = co_await call_plugin(std::move(state), target, verb, std::move(args), timeout);
}

}  // namespace

std::optional<ProgressReport> export_progress_report(const json& event, double& percent) {
  const std::string kind = text_of(event, "kind");
  const json data = event.is_object() && event.contains("data") ? event["data"] : json();
  std::string file = text_of(data, "outputFile");
  if (file.empty()) file = text_of(data, "output");
  const std::string named = file.empty() ? std::string() : " " + file;
  if (kind == "export_progress") {
    // Premiere gives a fraction; a value above 1 can only be a percentage.
    std::optional<double> amount;
    for (const char* key : {"progressAmount", "progress"}) {
      if (!amount && data.is_object() && data.contains(key) && data[key].is_number()) amount = data[key].get<double>();
    }
    if (!amount) return std::nullopt;
    const double share = *amount > 1 ? *amount : *amount * 100;
    percent = std::max(percent, std::clamp(share, 0.0, 100.0));
    return ProgressReport{percent, 100, "Rendering" + named + ": " + std::to_string(static_cast<int>(percent)) + "%"};
  }
  if (kind == "export_queued") return ProgressReport{percent, 100, "Queued" + named + " for rendering"};
  if (kind == "export_complete") {
    percent = 100;
    return ProgressReport{percent, 100, "Export complete:" + named};
  }
  if (kind == "export_error") {
    const std::string why = text_of(data, "error");
    return ProgressReport{percent, 100, "Export failed" + (why.empty() ? std::string() : ": " + why)};
  }
  if (kind == "export_cancel") return ProgressReport{percent, 100, "Export cancelled"};
  return std::nullopt;
}

asio::awaitable<json> forward_verb(StatePtr state, std::string verb, json args,
                                   NotConnectedAnswer not_connected, Progress progress) {
  const VerbRecord* record = find_verb(verb);
  if (record == nullptr || record->kind == Runtime::Bridge) co_return unknown_verb_answer(verb);

  const std::uint64_t seconds = forward_timeout(args, record->timeout);
  apply_aliases(*record, args);
  // The previews folder is made only when a verb may write into it.
  if (record->default_path != DefaultPath::None && args.is_object()) {
    add_default_paths(verb, args, previews_dir(*state));
  }

  PluginRuntime target = PluginRuntime::Uxp;
  if (record->kind == Runtime::CepHelper) {
    target = PluginRuntime::Cep;
  } else if (record->kind == Runtime::CepOrUxp && is_connected(*state, PluginRuntime::Cep)) {
    target = PluginRuntime::Cep;
  }

  // Kept for a second try: the CEP helper may go between choosing it and filing the call.
  json retry_args = record->kind == Runtime::CepOrUxp && target == PluginRuntime::Cep ? args : json();
  CallOutcome outcome;
  if (progress && record->reports_progress) {
    // The plug-in pushes export events while it works; they are reported as they come.
    const std::string output = text_of(args, "output");
    report(progress, 0, 100, "Asking Premiere to export" + (output.empty() ? "" : " " + output));
    std::uint64_t since = state->event_seq;
    double percent = 0;
    co_await (call_into(outcome, state, target, verb, std::move(args), std::chrono::seconds(seconds)) ||
              watch_export_events(state, since, output, progress, percent));
    // Events sent just before the result are in the log by now.
    report_export_events(*state, since, output, progress, percent);
  } else {
    outcome = co_await call_plugin(state, target, verb, std::move(args), std::chrono::seconds(seconds));
  }
  if (record->kind == Runtime::CepOrUxp && target == PluginRuntime::Cep) {
    const auto* error = std::get_if<CallError>(&outcome);
    if (error != nullptr && error->kind == CallError::NotConnected) {
      // Nothing was sent, so the UXP plug-in, the verb's other home, takes it.
      target = PluginRuntime::Uxp;
      outcome = co_await call_plugin(state, target, verb, std::move(retry_args),
                                     std::chrono::seconds(seconds));
    }
  }
  if (auto* message = std::get_if<json>(&outcome)) co_return answer_from_result(std::move(*message));
  const CallError error = std::get<CallError>(outcome);
  switch (error.kind) {
    case CallError::NotConnected:
      if (target == PluginRuntime::Cep) {
        co_return cep_not_connected_answer(is_connected(*state, PluginRuntime::Uxp));
      }
      co_return co_await not_connected(state);
    case CallError::Disconnected:
      co_return disconnected_answer();
    case CallError::TimedOut:
      break;
  }
  co_return timed_out_answer(error.seconds);
}

asio::awaitable<json> wait_for_plugin(StatePtr state, json args,
                                      NotConnectedAnswer not_connected, Progress progress) {
  const std::uint64_t seconds = std::clamp<std::uint64_t>(
      arg_uint(args, "timeoutSec").value_or(kDefaultWaitForPlugin), 1, kMaxWaitForPlugin);
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::seconds(seconds);
  const double total = static_cast<double>(seconds);
  asio::steady_timer pause(co_await asio::this_coro::executor);
  std::int64_t reported = 0;  // whole seconds waited, as last reported
  report(progress, 0, total, "Waiting up to " + std::to_string(seconds) + "s for the UXP plug-in to connect");
  for (;;) {
    const auto waited = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count();
    if (waited > reported) {
      reported = waited;
      report(progress, static_cast<double>(waited), total,
             "Still waiting for the UXP plug-in: " + std::to_string(waited) + "s of " + std::to_string(seconds) + "s");
    }
    if (auto record = plugin_record(*state, PluginRuntime::Uxp)) {
      co_return json{{"success", true}, {"connected", true}, {"plugin", std::move(record->first)}};
    }
    if (Clock::now() >= deadline) {
      json answer = co_await not_connected(state);
      answer["error"] = "plugin did not connect within " + std::to_string(seconds) + "s";
      co_return answer;
    }
    pause.expires_after(std::chrono::milliseconds(500));
    auto [ec] = co_await pause.async_wait(nothrow);
    if (ec == asio::error::operation_aborted) {  // the caller went away: nobody reads this
      co_return json{{"success", false}, {"errorCode", "cancelled"}, {"error", "cancelled"}};
    }
  }
}

}  // namespace cutrelay
