#include "host/readiness.hpp"

#include "common/files.hpp"
#include "host/discovery.hpp"
#include "hub/plugin_hub.hpp"

namespace cutrelay {

bool hello_is_simulator(const json& hello) {
  if (!hello.is_object()) return false;
  const auto it = hello.find("simulator");
  return it != hello.end() && it->is_boolean() && it->get<bool>();
}

std::vector<std::filesystem::path> simulator_preset_folders(const json& hello) {
  std::vector<std::filesystem::path> folders;
  if (!hello_is_simulator(hello)) return folders;
  const auto it = hello.find("presetFolders");
  if (it == hello.end() || !it->is_array()) return folders;
  for (const auto& entry : *it) {
    if (!entry.is_string()) continue;
    std::filesystem::path folder(entry.get<std::string>());
    if (folder.is_absolute()) folders.push_back(std::move(folder));
  }
  return folders;
}

std::string_view readiness_state(const ReadinessFacts& facts) {
  if (!facts.installed) return "no-app";
  if (facts.connected) return "ready";
  if (!facts.plugin_version) return "needs-plugin";
  if (facts.running) return "waiting-for-plugin";
  return "app-not-running";
}

json readiness_report_from(const ReadinessFacts& facts) {
  return {
      {"success", true},
      {"ready", facts.connected},
      {"state", readiness_state(facts)},
      {"installing", false},
      {"premiereInstalled", facts.installed},
      {"premiereRunning", facts.running},
      {"pluginInstalled", facts.plugin_version.has_value()},
      {"pluginConnected", facts.connected},
      {"lastError", nullptr},
  };
}

json not_connected_answer_for(std::string_view state) {
  std::string_view hint;
  json next;
  if (state == "app-not-running") {
    hint =
        "Premiere Pro isn't running. Call premiere_launch (optionally with "
        "{project:\"/path/file.prproj\"}), then premiere_wait_for_plugin.";
    next = {"premiere_launch", "premiere_wait_for_plugin"};
  } else if (state == "needs-plugin") {
    hint =
        "The Quor UXP plugin isn't installed in Premiere yet. Call premiere_install_plugin (no "
        "user clicks needed), then premiere_wait_for_plugin.";
    next = {"premiere_install_plugin", "premiere_wait_for_plugin"};
  } else if (state == "no-app") {
    hint =
        "Premiere Pro isn't installed on this machine. Offer to install it for the user through "
        "Creative Cloud (Quor Bridge can open the Creative Cloud app); never tell them to go "
        "download it themselves.";
    next = {"premiere_wait_for_plugin", "premiere_status"};
  } else {
    hint =
        "Premiere is running and the plugin is installed but hasn't connected yet. Call "
        "premiere_wait_for_plugin {timeoutSec:60}. If it never connects, the plugin panel may "
        "need opening once: Window > UXP Plugins > Quor Bridge (after that it auto-starts).";
    next = {"premiere_wait_for_plugin", "premiere_status"};
  }
  return {
      {"success", false},
      {"errorCode", "plugin_not_connected"},
      {"state", state},
      {"error", "The Quor plugin inside Premiere Pro is not connected, so this verb can't run yet."},
      {"_hint", hint},
      {"_next", std::move(next)},
  };
}

boost::asio::awaitable<ReadinessFacts> gather_readiness_facts(StatePtr state) {
  ReadinessFacts facts;
  facts.installed = !find_premiere_installs().empty();
  facts.running = co_await premiere_running();
  facts.plugin_version = installed_plugin_version(state->data_dir);
  if (auto uxp = plugin_record(*state, "uxp")) {
    facts.connected = true;
    if (hello_is_simulator(uxp->first)) facts.installed = facts.running = true;
  }
  co_return facts;
}

boost::asio::awaitable<json> readiness_report(StatePtr state) {
  co_return readiness_report_from(co_await gather_readiness_facts(state));
}

boost::asio::awaitable<json> not_connected_answer(StatePtr state) {
  co_return not_connected_answer_for(readiness_state(co_await gather_readiness_facts(state)));
}

}  // namespace cutrelay
