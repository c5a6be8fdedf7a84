#pragma once
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace cutrelay {

// A fresh temporary folder, removed afterwards.
struct ScratchDir {
  ScratchDir() {
#if defined(_WIN32)
    // No mkdtemp: a name of our process and a counter, taken once it could be created.
    static std::atomic<unsigned> next{0};
    std::error_code ec;
    do {
      path = std::filesystem::temp_directory_path() /
             ("cutrelay-unit-" + std::to_string(::GetCurrentProcessId()) + "-" +
              std::to_string(next++));
    } while (!std::filesystem::create_directory(path, ec));
#else
    std::string pattern = (std::filesystem::temp_directory_path() / "cutrelay-unit-XXXXXX").string();
    path = ::mkdtemp(pattern.data());
#endif
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
