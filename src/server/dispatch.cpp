#include "server/dispatch.hpp"

#include <exception>

#include "catalog/catalog.hpp"
#include "catalog/decorate.hpp"
#include "common/log.hpp"
#include "direct_api/monitor_snapshot.hpp"
#include "host/frames.hpp"
#include "host/launch.hpp"
#include "host/presets.hpp"
#include "host/readiness.hpp"
#include "host/status.hpp"
#include "hub/event_feed.hpp"
#include "hub/forwarding.hpp"
#include "hub/plugin_hub.hpp"
#include "installer/plugin_installer.hpp"

namespace cutrelay {

namespace asio = boost::asio;

std::string_view strip_prefix(std::string_view command) {
  if (command.starts_with(kVerbPrefix)) command.remove_prefix(kVerbPrefix.size());
  return command;
}

namespace {

// The bridge's own verbs. Those not listed here are answered by forward_verb, which refuses
// them, until they are built.
asio::awaitable<std::optional<json>> run_local(const StatePtr& state, std::string_view verb,
                                               const json& args, const Progress& progress) {
  if (verb == "describe") co_return describe_answer();
  if (verb == "readiness") co_return co_await readiness_report(state);
  if (verb == "status") co_return co_await status_answer(state);
  if (verb == "launch") co_return co_await launch(verb_context(state, progress), args);
  if (verb == "quit") co_return co_await quit(state, args);
  if (verb == "list_export_presets") {
    const auto uxp = plugin_record(*state, "uxp");
    co_return list_export_presets(args, uxp ? simulator_preset_folders(uxp->first)
                                            : std::vector<std::filesystem::path>{});
  }
  if (verb == "wait_for_plugin") {
    co_return co_await wait_for_plugin(state, args, not_connected_answer, progress);
  }
  if (verb == "events") co_return events_answer(*state, args);
  if (verb == "preview_frame") co_return co_await preview_frame(verb_context(state), args);
  if (verb == "contact_sheet") co_return co_await contact_sheet(verb_context(state, progress), args);
  if (verb == "read_file_base64") co_return co_await read_file_base64(args);
  if (verb == "monitor_snapshot") co_return co_await monitor_snapshot(verb_context(state), args);
  if (verb == "install_plugin") co_return co_await install_plugin(state, args);
  if (verb == "plugin_info") co_return plugin_info(*state);
  co_return std::nullopt;
}

}  // namespace

asio::awaitable<json> dispatch(StatePtr state, std::string command, json args, Progress progress) {
  const std::string verb(strip_prefix(command));
  std::optional<json> answer;
  std::string failure;
  try {
    answer = co_await run_local(state, verb, args, progress);
    if (!answer) {
      answer = co_await forward_verb(state, verb, std::move(args), not_connected_answer, progress);
    }
  } catch (const std::exception& e) {
    // Failures are answers: whatever went wrong fails this command alone.
    failure = e.what();
  }
  if (!answer) {
    log_line("command " + verb + " failed: " + failure);
    answer = json{{"success", false},
                  {"errorCode", "internal_error"},
                  {"error", "The bridge failed while running " + verb + ": " + failure + "."}};
  }
  co_return decorate(verb, std::move(*answer));
}

VerbContext verb_context(StatePtr state, Progress progress) {
  // BridgeState lives as long as the process, so the copy held by the function is harmless.
  // Inner verbs report nothing: the outer verb says how far it has come.
  StatePtr inner = state;
  return VerbContext{std::move(state),
                     [inner](std::string command, json args) {
                       return dispatch(inner, std::move(command), std::move(args));
                     },
                     std::move(progress)};
}

asio::awaitable<std::string> dispatch_text(StatePtr state, std::string command, json args) {
  if (strip_prefix(command) == "describe") co_return describe_answer_text();
  co_return dump_compact(co_await dispatch(std::move(state), std::move(command), std::move(args)));
}

}  // namespace cutrelay
