#include "installer/embedded_files.hpp"

namespace cutrelay {

const EmbeddedFile* find_embedded(std::span<const EmbeddedFile> files, std::string_view path) {
  for (const EmbeddedFile& file : files) {
    if (file.path == path) return &file;
  }
  return nullptr;
}

}  // namespace cutrelay
