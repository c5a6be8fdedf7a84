#include "host/launch.hpp"

#include <algorithm>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "common/args.hpp"
#include "common/child_process.hpp"
#include "host/discovery.hpp"
#include "host/readiness.hpp"
#include "hub/forwarding.hpp"
#include "hub/plugin_hub.hpp"

namespace cutrelay {

namespace {

constexpr std::uint64_t kDefaultLaunchWait = 120;
constexpr std::chrono::seconds kSaveBeforeQuit{60};

json failure(std::string_view code, std::string message) {
  return {{"success", false}, {"errorCode", code}, {"error", std::move(message)}};
}

#if !defined(_WIN32)
// osascript's own words when it printed any; otherwise how it ended, so the answer never
// carries an empty sentence.
std::string osascript_failure(const ToolResult& r) {
  if (!r.err.empty()) return to_valid_utf8(r.err);
  if (r.signal != 0) return "osascript was ended by signal " + std::to_string(r.signal);
  return "osascript exited with status " + std::to_string(r.exit_code);
}
#endif

}  // namespace

std::vector<std::string> app_names(const std::vector<std::string>& process_lines) {
  std::vector<std::string> names;
  for (const auto& line : process_lines) {
    const std::size_t slash = line.rfind('/');
    std::string name = slash == std::string::npos ? line : line.substr(slash + 1);
    if (names.empty() || names.back() != name) names.push_back(std::move(name));
  }
  return names;
}

std::string quit_script(const std::vector<std::string>& names) {
  std::string script;
  for (const auto& name : names) {
    if (!script.empty()) script += '\n';
    script += "tell application \"";
    for (char c : name) {
      if (c == '\\' || c == '"') script += '\\';
      script += c;
    }
    script += "\" to quit";
  }
  return script;
}

std::vector<std::string> open_arguments(const std::string& app, const std::string* project,
                                        bool foreground) {
  std::vector<std::string> args;
  if (!foreground) args.emplace_back("-g");
  args.emplace_back("-a");
  args.push_back(app);
  if (project != nullptr) args.push_back(*project);
  return args;
}

#if defined(_WIN32)
std::size_t close_windows_of(const std::vector<std::uint32_t>& pids) {
  struct Search {
    const std::vector<std::uint32_t>* pids;
    std::size_t asked = 0;
  } search{&pids};
  ::EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(param);
        DWORD pid = 0;
        ::GetWindowThreadProcessId(window, &pid);
        if (std::find(s.pids->begin(), s.pids->end(), pid) == s.pids->end()) return TRUE;
        if (!::IsWindowVisible(window) || ::GetWindow(window, GW_OWNER) != nullptr) return TRUE;
        // Posted, not sent: the bridge never waits on Premiere's message loop (a save
        // prompt may keep it busy for as long as the user takes).
        if (::PostMessageW(window, WM_CLOSE, 0, 0)) ++s.asked;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.asked;
}
#endif

boost::asio::awaitable<json> launch(VerbContext context, json args) {
  const std::string* project = arg_string(args, "project");
  // A simulated Premiere is the running app as far as an agent is concerned.
  if (const auto uxp = plugin_record(*context.state, "uxp"); uxp && hello_is_simulator(uxp->first)) {
    if (project != nullptr) {
      json open_args = json::object();
      open_args["path"] = *project;
      co_return co_await context.dispatch(std::string("open_project"), std::move(open_args));
    }
    co_return json{{"success", true}, {"alreadyRunning", true}, {"simulator", true}};
  }

  const std::vector<InstallRecord> installs = find_premiere_installs();
  const InstallRecord* chosen = nullptr;
  const std::optional<std::uint64_t> year = arg_uint(args, "year");
  for (const auto& install : installs) {
    if (!year || *year == install.year) {
      chosen = &install;
      break;
    }
  }
  if (chosen == nullptr) {
    json answer = failure("premiere_not_installed", "No Adobe Premiere Pro install found.");
    answer["installs"] = installs_to_json(installs);
    co_return answer;
  }

  if (co_await premiere_running()) {
    if (project != nullptr && is_connected(*context.state, "uxp")) {
      json open_args = json::object();
      open_args["path"] = *project;
      co_return co_await context.dispatch(std::string("open_project"), std::move(open_args));
    }
    json running = json::object();
    running["success"] = true;
    running["alreadyRunning"] = true;
    running["app"] = chosen->app;
    co_return running;
  }

  const bool foreground = arg_not_off(args, "foreground");
  report(context.progress, 0, std::nullopt, "Starting " + chosen->app);
#if defined(_WIN32)
  // The executable itself, with the project as its argument; in the background it opens
  // minimised without taking the focus.
  std::vector<std::string> program_args;
  if (project != nullptr) program_args.push_back(*project);
  auto error = co_await start_detached(chosen->app, std::move(program_args),
                                       foreground ? WindowStart::Normal : WindowStart::Background);
#else
  auto error = co_await start_detached("open", open_arguments(chosen->app, project, foreground));
#endif
  if (error) co_return failure("launch_failed", std::move(*error));
  json answer = json::object();
  answer["success"] = true;
  answer["launched"] = true;
  answer["app"] = chosen->app;
  answer["year"] = chosen->year;
  if (!arg_not_off(args, "wait")) co_return answer;

  json wait_args = json::object();
  wait_args["timeoutSec"] = arg_uint(args, "timeoutSec").value_or(kDefaultLaunchWait);
  // The wait's reports follow the start's.
  Progress waiting;
  if (context.progress) {
    waiting = [outer = context.progress](ProgressReport step) {
      step.progress += 1;
      if (step.total) *step.total += 1;
      outer(std::move(step));
    };
  }
  json waited = co_await wait_for_plugin(context.state, wait_args, not_connected_answer, waiting);
  // A wait that ran out answers with the not-connected answer, which has no `connected`:
  // that means the plug-in did not connect, so it is reported as false, not null.
  const auto connected = waited.find("connected");
  const bool is_connected_now = connected != waited.end() && *connected == true;
  answer["pluginConnected"] = is_connected_now;
  if (!is_connected_now) {
    const auto hint = waited.find("_hint");
    answer["_hint"] = hint != waited.end() ? *hint : json(nullptr);
  }
  co_return answer;
}

boost::asio::awaitable<json> quit(StatePtr state, json args) {
  if (!co_await premiere_running()) co_return json{{"success", true}, {"wasRunning", false}};

  if (arg_on(args, "save") && is_connected(*state, "uxp")) {
    // Whatever the save answers (or if it never does), the quit goes ahead.
    (void)co_await call_plugin(state, "uxp", "save_project", json::object(), kSaveBeforeQuit);
  }

#if defined(_WIN32)
  std::vector<std::uint32_t> pids;
  for (const ProcessEntry& entry : premiere_process_entries()) pids.push_back(entry.pid);
  if (close_windows_of(pids) == 0) {
    co_return failure("quit_failed", "Premiere Pro runs but shows no window to close.");
  }
  co_return json{{"success", true}, {"quitRequested", true}};
#else
  const std::string script = quit_script(app_names(co_await premiere_processes()));
  const std::vector<std::string> osascript_args{"-e", script};
  const ToolResult r = co_await run_tool("osascript", osascript_args);
  if (!r.started) co_return failure("quit_failed", r.start_error);
  if (!r.clean_exit()) co_return failure("quit_failed", osascript_failure(r));
  co_return json{{"success", true}, {"quitRequested", true}};
#endif
}

}  // namespace cutrelay
