#include "host/status.hpp"

#include "catalog/catalog.hpp"
#include "common/files.hpp"
#include "host/discovery.hpp"
#include "host/readiness.hpp"
#include "hub/forwarding.hpp"
#include "hub/plugin_hub.hpp"

namespace cutrelay {

namespace {

// The plug-in this bridge carries has the bridge's own version.
constexpr std::string_view kBundledPluginVersion = kVersion;
constexpr std::chrono::seconds kLivePingTimeout{5};

std::string text_member(const json& object, const char* key, const char* fallback) {
  if (!object.is_object()) return fallback;
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : fallback;
}

std::uint64_t seconds_since(Clock::time_point then) {
  const auto elapsed = Clock::now() - then;
  return elapsed.count() < 0
             ? 0
             : static_cast<std::uint64_t>(
                   std::chrono::duration_cast<std::chrono::seconds>(elapsed).count());
}

}  // namespace

json health_report_from(const HealthFacts& facts) {
  std::string led = "yellow";
  std::string summary;
  std::string tooltip;
  if (facts.uxp_hello) {
    led = "green";
    summary = "Connected";
    tooltip = "Premiere Pro " + text_member(*facts.uxp_hello, "premiereVersion", "?") +
              " connected via UXP plugin " + text_member(*facts.uxp_hello, "pluginVersion", "?") +
              ". Project: " + text_member(*facts.uxp_hello, "project", "(none open)");
  } else if (facts.running && facts.cep_connected) {
    summary = "Helper only";
    tooltip =
        "Premiere is running and the Quor CEP helper is connected, but the main UXP plugin "
        "isn't. Open Window > UXP Plugins > Quor Bridge once (it then auto-restores).";
  } else if (facts.running) {
    summary = "Plugin not connected";
    tooltip =
        "Premiere is running but the Quor UXP plugin hasn't dialed in. Run "
        "premiere_install_plugin, then open Window > UXP Plugins > Quor Bridge once.";
  } else {
    summary = "Premiere not running";
    tooltip = "Bridge is up. Premiere Pro isn't running \u2014 premiere_launch starts it.";
  }
  return {
      {"ok", true},
      {"name", "premiere"},
      {"version", kVersion},
      {"led", led},
      {"summary", summary},
      {"tooltip", tooltip},
      {"pluginConnected", facts.uxp_hello.has_value()},
      {"cepHelperConnected", facts.cep_connected},
      {"premiereRunning", facts.running},
      {"uptimeSec", facts.uptime_sec},
  };
}

boost::asio::awaitable<json> health_report(StatePtr state) {
  HealthFacts facts;
  facts.running = co_await premiere_running();
  if (auto uxp = plugin_record(*state, "uxp")) {
    facts.running = facts.running || hello_is_simulator(uxp->first);
    facts.uxp_hello = std::move(uxp->first);
  }
  facts.cep_connected = is_connected(*state, "cep");
  facts.uptime_sec = seconds_since(state->started_at);
  co_return health_report_from(facts);
}

boost::asio::awaitable<json> status_answer(StatePtr state) {
  std::vector<std::string> processes = co_await premiere_processes();
  const std::vector<InstallRecord> installs = find_premiere_installs();
  auto uxp = plugin_record(*state, "uxp");
  auto cep = plugin_record(*state, "cep");
  const auto plugin_version = installed_plugin_version(state->data_dir);
  const bool simulated = uxp && hello_is_simulator(uxp->first);

  json answer = {
      {"success", true},
      {"bridgeVersion", kVersion},
      {"port", state->port},
      {"dataDir", to_valid_utf8(path_utf8(state->data_dir))},
      {"premiereInstalled", simulated || !installs.empty()},
      {"installs", installs_to_json(installs)},
      {"premiereRunning", simulated || !processes.empty()},
      {"runningProcesses", std::move(processes)},
      {"pluginConnected", uxp.has_value()},
      {"pluginInstalled", plugin_version.has_value()},
      {"pluginInstalledVersion", plugin_version ? json(*plugin_version) : json(nullptr)},
      {"pluginBundledVersion", kBundledPluginVersion},
      {"cepHelperConnected", cep.has_value()},
      {"cepHelper", cep ? std::move(cep->first) : json(nullptr)},
  };
  if (simulated) answer["simulator"] = true;
  if (uxp) {
    answer["plugin"] = std::move(uxp->first);
    answer["pluginConnectedForSec"] = uxp->second;
    CallOutcome ping =
        co_await call_plugin(state, "uxp", "ping", json::object(), kLivePingTimeout);
    if (auto* message = std::get_if<json>(&ping)) {
      answer["responsive"] = true;
      const auto result = message->is_object() ? message->find("result") : message->end();
      answer["live"] = message->is_object() && result != message->end() ? std::move(*result)
                                                                        : json(nullptr);
    } else {
      answer["responsive"] = false;
    }
  }
  co_return answer;
}

}  // namespace cutrelay
