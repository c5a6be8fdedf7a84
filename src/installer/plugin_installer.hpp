#pragma once
// Installing the bridge's own in-app plug-ins without clicks in Premiere: the UXP plug-in
// through Adobe's installer agent (UPIA), the CEP helper by writing its folder among the
// user's CEP extensions, and the setting that lets unsigned CEP extensions load.
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <boost/asio/awaitable.hpp>

#include "common/child_process.hpp"
#include "common/json_util.hpp"
#include "hub/bridge_state.hpp"
#include "installer/embedded_files.hpp"

namespace cutrelay {

// Where Adobe's Creative Cloud app puts its command-line plug-in installer. Tests move it
// under CUTRELAY_TEST_SYSROOT (see system_path).
inline constexpr std::string_view kUpiaPath =
    "/Library/Application Support/Adobe/Adobe Desktop Common/RemoteComponents/UPI/"
    "UnifiedPluginInstallerAgent/UnifiedPluginInstallerAgent.app/Contents/MacOS/"
    "UnifiedPluginInstallerAgent";
// On Windows, relative to Common Files (the shell's ProgramFilesCommon folder).
inline constexpr std::string_view kUpiaPathWindows =
    "Adobe/Adobe Desktop Common/RemoteComponents/UPI/UnifiedPluginInstallerAgent/"
    "UnifiedPluginInstallerAgent.exe";

// The user's CEP extensions folder, relative to the home directory; on Windows relative to
// the roaming application data folder (%APPDATA%).
inline constexpr std::string_view kCepExtensionsFolder =
    "Library/Application Support/Adobe/CEP/extensions";
inline constexpr std::string_view kCepExtensionsFolderWindows = "Adobe/CEP/extensions";

// UPIA's switches: "--install" and "--remove" on macOS, "/install" and "/remove" on Windows.
#if defined(_WIN32)
inline constexpr std::string_view kUpiaInstall = "/install";
inline constexpr std::string_view kUpiaRemove = "/remove";
#else
inline constexpr std::string_view kUpiaInstall = "--install";
inline constexpr std::string_view kUpiaRemove = "--remove";
#endif

// CEP runtimes (CSXS versions) told to load unsigned extensions, in this order.
inline constexpr int kCsxsVersions[] = {9, 10, 11, 12, 13};

// The macOS preferences tool, found on PATH.
inline constexpr std::string_view kSettingsTool = "defaults";

// Sets PlayerDebugMode to "1" for one CEP runtime version: `defaults write
// com.adobe.CSXS.<n> PlayerDebugMode 1` on macOS; on Windows the string value
// PlayerDebugMode under HKEY_CURRENT_USER\Software\Adobe\CSXS.<n> (tests move the key
// under HKEY_CURRENT_USER\<CUTRELAY_TEST_REGISTRY_ROOT>). Whether it was set.
boost::asio::awaitable<bool> set_player_debug_mode(int csxs_version);

// The CEP helper's files in the order they are written; any other embedded file follows
// in path order.
inline constexpr std::string_view kCepFileOrder[] = {"CSXS/manifest.xml", "index.html",
                                                     "main.js", "host.jsx"};

// Where UPIA is, whether or not it is there.
std::filesystem::path upia_path();

// UPIA's path when it exists, else nothing.
std::optional<std::filesystem::path> locate_upia();

// The CEP helper's folder: <home>/Library/Application Support/Adobe/CEP/extensions/
// inc.quor.premiere.cep; on Windows %APPDATA%\Adobe\CEP\extensions\inc.quor.premiere.cep
// (APPDATA, else the shell's RoamingAppData folder, else <home>\AppData\Roaming).
std::filesystem::path cep_dir();

// What an installer step reports: ok is exit status 0; output is standard output then
// standard error, each decoded as UTF-8 with invalid bytes replaced, joined and trimmed,
// or the reason the program could not be started.
struct ToolOutcome {
  bool ok = false;
  std::string output;
};
ToolOutcome tool_outcome(const ToolResult& run);

// Runs a program to completion with no time limit (UPIA may wait on the user) and
// reports it as above. Other requests go on meanwhile.
boost::asio::awaitable<ToolOutcome> run_installer_tool(std::string program,
                                                       std::vector<std::string> args);

// Whether UPIA installed the package, judged from its exit status and output: its exit
// status is not reliable, so its own words count for more.
bool upia_install_succeeded(bool exit_ok, std::string_view output);

// Writes `files` into `dir` (folders created as needed, files replaced), in the order of
// kCepFileOrder. The first failure stops the copy and is returned as text.
std::optional<std::string> write_cep_helper(const std::filesystem::path& dir,
                                            std::span<const EmbeddedFile> files);

// The CEP step: writes `files` into `dir`, then sets PlayerDebugMode for each CSXS version.
// The CEP result object: installed, or "cep_copy_failed" (and no preference touched).
boost::asio::awaitable<json> install_cep_helper(std::filesystem::path dir,
                                                std::span<const EmbeddedFile> files);

// The `install_plugin` answer, before decoration, from the UXP and CEP results.
json install_answer(json uxp, json cep, bool premiere_running);

// The `install_plugin` verb: {force?: true, cep?: false}.
boost::asio::awaitable<json> install_plugin(StatePtr state, const json& args);

// The `plugin_info` verb: what is carried and what is installed. Writes and starts nothing.
json plugin_info(const BridgeState& state);

}  // namespace cutrelay
