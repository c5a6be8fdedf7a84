#pragma once
// What the bridge knows about Premiere Pro on this machine: where it is installed, whether
// it runs, and the user's home directory. Nothing is cached; every call looks afresh.
//
// On macOS, installs are bundles under /Applications and processes come from `ps`. On
// Windows, installs are folders under Program Files\Adobe holding "Adobe Premiere Pro.exe",
// and processes come from the system's process snapshot (Toolhelp).
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
// Premiere Pro's executable inside its install folder on Windows.
inline constexpr std::string_view kWindowsExecutable = "Adobe Premiere Pro.exe";

// A fixed system path such as "/Applications". Tests may move every such path under a
// folder of their own with the environment variable CUTRELAY_TEST_SYSROOT (on Windows,
// "C:\Program Files\Adobe" moves to <root>\Program Files\Adobe).
std::filesystem::path system_path(const std::filesystem::path& absolute);

// HOME, else USERPROFILE, else the system's temporary directory. On Windows: USERPROFILE,
// else the shell's Profile folder, else the temporary directory (HOME is not Windows's).
std::filesystem::path home_dir();

// Where Premiere Pro and Media Encoder are installed: /Applications; on Windows the Adobe
// folder of Program Files (the shell's ProgramFiles folder). Through system_path.
std::filesystem::path applications_dir();

// The program inside one install folder: "<folder>/<folder>.app" on macOS,
// "<folder>\Adobe Premiere Pro.exe" on Windows.
std::filesystem::path install_program(const std::filesystem::path& install_folder);

struct InstallRecord {
  std::string app;  // the .app bundle's path (Windows: the executable's)
  std::uint32_t year = 0;
};

// The year a folder name carries after the "Adobe Premiere Pro" prefix: its ASCII digits in
// order, read as a 32-bit number (0 when there are none or they overflow).
std::uint32_t install_year(std::string_view folder_name);

// Premiere Pro bundles under `applications`, newest year first (a stable order otherwise).
std::vector<InstallRecord> find_premiere_installs(
    const std::filesystem::path& applications = applications_dir());

json installs_to_json(const std::vector<InstallRecord>& installs);

// The lines of a process listing (one executable path per line) that are Premiere Pro.
std::vector<std::string> premiere_process_lines(std::string_view ps_output);

// Whether a process's executable file name is Premiere Pro's on Windows (in any case, as
// the file system compares names).
bool is_premiere_executable_name(std::string_view exe_name);

// How long `ps` may take before it is killed (and Premiere counts as not running).
inline constexpr std::chrono::seconds kPsTimeLimit{5};

// Premiere Pro processes, from `ps -axo comm=`; empty when ps cannot run or hangs. Calls
// that arrive while a `ps` is under way share its result. On Windows: the executable paths
// of the snapshot's Premiere processes (the file name where the path cannot be read).
boost::asio::awaitable<std::vector<std::string>> premiere_processes();

#if defined(_WIN32)
struct ProcessEntry {
  std::uint32_t pid = 0;
  std::string exe_name;  // the executable's file name, UTF-8
  std::string path;      // its full path, or empty when the process does not let us see it
};

// Every process of the system's snapshot.
std::vector<ProcessEntry> list_processes();

// The Premiere Pro processes among them.
std::vector<ProcessEntry> premiere_process_entries();
#endif

boost::asio::awaitable<bool> premiere_running();

}  // namespace cutrelay
