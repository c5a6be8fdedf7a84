#pragma once
// The UXP plug-in as Adobe's installer takes it: a .ccx package (a ZIP archive with the
// plug-in's files at its root), written fresh into the state directory on every install.
#include <array>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "installer/embedded_files.hpp"

namespace cutrelay {

// The plug-in files in the order they appear in the package. The connection file follows
// them as the last entry.
inline constexpr std::array<std::string_view, 7> kPackageEntries = {
    "manifest.json",     "index.html",        "index.js",           "icons/dark@1x.png",
    "icons/dark@2x.png", "icons/light@1x.png", "icons/light@2x.png",
};

// The packaged copy of the bridge's connection file: the plug-in's last way to find the
// bridge when it cannot read the user's home directory.
inline constexpr std::string_view kConnectionEntry = "connection.json";

// `data_dir`/inc.quor.premiere.bridge.ccx, where the package is written.
std::filesystem::path ccx_path(const std::filesystem::path& data_dir);

struct CcxBuild {
  std::optional<std::filesystem::path> path;  // set when the package was written
  std::string error;                          // why not, otherwise
};

// Writes the package from `files` (the embedded UXP plug-in unless a test passes its own)
// and the current connection file of `data_dir`, replacing any earlier package in one step
// (mode 600: it holds the token). A connection file that cannot be read gives an empty
// entry; any other failure is returned with the system's or the archive writer's message,
// and leaves the earlier package as it was.
CcxBuild build_ccx(const std::filesystem::path& data_dir,
                   std::span<const EmbeddedFile> files = uxp_plugin_files());

}  // namespace cutrelay
