#pragma once
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace cutrelay {

// A fresh temporary folder, removed afterwards.
struct ScratchDir {
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "cutrelay-unit-XXXXXX").string();
    path = ::mkdtemp(pattern.data());
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  void write(const std::filesystem::path& relative, const std::string& bytes) const {
    std::filesystem::create_directories((path / relative).parent_path());
    std::ofstream(path / relative, std::ios::binary) << bytes;
  }
  std::filesystem::path path;
};

}  // namespace cutrelay
