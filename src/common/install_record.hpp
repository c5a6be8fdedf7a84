#pragma once
// The installer's record of a successful plug-in install, kept in the state directory.
// Readiness and status read it to tell whether (and which version of) the plug-in is in
// Premiere; only the installer writes it.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace cutrelay {

inline constexpr std::string_view kInstallRecordFile = "plugin-installed.json";

// The `version` text of the install record in `data_dir`; nothing when the file is
// missing, unreadable, not a JSON object or has no string `version`.
std::optional<std::string> installed_plugin_version(const std::filesystem::path& data_dir);

}  // namespace cutrelay
