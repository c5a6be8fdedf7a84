#pragma once
// The in-app plug-ins' files, built into the bridge from uxp-plugin/ and cep-helper/ by a
// build step (cmake/embed_files.cmake): editing a plug-in file and rebuilding changes what
// the bridge packages and installs.
#include <span>
#include <string_view>

namespace cutrelay {

struct EmbeddedFile {
  std::string_view path;   // relative to the plug-in's folder, with "/" separators
  std::string_view bytes;  // the file's exact contents
};

// Every file of the UXP plug-in, in path order.
std::span<const EmbeddedFile> uxp_plugin_files();

// Every file of the CEP helper, in path order; empty when the tree holds none.
std::span<const EmbeddedFile> cep_helper_files();

// The file at `path` in `files`, or nullptr.
const EmbeddedFile* find_embedded(std::span<const EmbeddedFile> files, std::string_view path);

}  // namespace cutrelay
