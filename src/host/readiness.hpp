#pragma once
// Can an agent drive Premiere right now, and if not, what should it do next.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/asio/awaitable.hpp>

#include "common/install_record.hpp"
#include "hub/bridge_state.hpp"

namespace cutrelay {

// A Premiere simulator says so in its plug-in's hello (`simulator: true`). It counts as an
// installed and running Premiere, so no answer tells the agent to go and install one.
bool hello_is_simulator(const json& hello);

// The export preset folders a simulator's hello names (`presetFolders`, absolute paths only);
// none for a real Premiere.
std::vector<std::filesystem::path> simulator_preset_folders(const json& hello);

struct ReadinessFacts {
  bool installed = false;  // a Premiere Pro bundle was found
  bool running = false;    // a Premiere Pro process runs
  bool connected = false;  // the UXP plug-in is connected (the CEP helper does not count)
  std::optional<std::string> plugin_version;  // what the installer recorded
};

// "no-app", "ready", "needs-plugin", "waiting-for-plugin" or "app-not-running".
std::string_view readiness_state(const ReadinessFacts& facts);

json readiness_report_from(const ReadinessFacts& facts);

// The plugin_not_connected answer for a readiness state.
json not_connected_answer_for(std::string_view state);

boost::asio::awaitable<ReadinessFacts> gather_readiness_facts(StatePtr state);

// The `readiness` verb's answer.
boost::asio::awaitable<json> readiness_report(StatePtr state);

boost::asio::awaitable<json> not_connected_answer(StatePtr state);

}  // namespace cutrelay
