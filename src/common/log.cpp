#include "common/log.hpp"

#include <cstdio>
#include <mutex>
#include <string>

namespace cutrelay {

void log_line(std::string_view line) {
  static std::mutex mutex;
  std::string text(line);
  text.push_back('\n');
  std::lock_guard lock(mutex);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace cutrelay
