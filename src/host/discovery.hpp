#pragma once
// What the bridge knows about Premiere Pro on this machine: where it is installed, whether
// it runs, and the user's home directory. Nothing is cached; every call looks afresh.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <boost/asio/awaitable.hpp>

#include "common/json_util.hpp"

namespace cutrelay {

inline constexpr std::string_view kAppNamePrefix = "Adobe Premiere Pro";
inline constexpr std::string_view kBundleMarker = "/Contents/MacOS/";

// A fixed system path such as "/Applications". Tests may move every such path under a
// folder of their own with the environment variable CUTRELAY_TEST_SYSROOT.
std::filesystem::path system_path(std::string_view absolute);

// HOME, else USERPROFILE, else the system's temporary directory.
std::filesystem::path home_dir();

struct InstallRecord {
  std::string app;  // the .app bundle's path
  std::uint32_t year = 0;
};

// The year a folder name carries after the "Adobe Premiere Pro" prefix: its ASCII digits in
// order, read as a 32-bit number (0 when there are none or they overflow).
std::uint32_t install_year(std::string_view folder_name);

// Premiere Pro bundles under `applications`, newest year first (a stable order otherwise).
std::vector<InstallRecord> find_premiere_installs(
    const std::filesystem::path& applications = system_path("/Applications"));

json installs_to_json(const std::vector<InstallRecord>& installs);

// The lines of a process listing (one executable path per line) that are Premiere Pro.
std::vector<std::string> premiere_process_lines(std::string_view ps_output);

// How long `ps` may take before it is killed (and Premiere counts as not running).
inline constexpr std::chrono::seconds kPsTimeLimit{5};

// Premiere Pro processes, from `ps -axo comm=`; empty when ps cannot run or hangs. Calls
// that arrive while a `ps` is under way share its result.
boost::asio::awaitable<std::vector<std::string>> premiere_processes();

boost::asio::awaitable<bool> premiere_running();

}  // namespace cutrelay
