#pragma once
#include <string_view>

namespace cutrelay {

// Writes one line to standard error in a single write, so lines from different threads
// never interleave.
void log_line(std::string_view line);

}  // namespace cutrelay
