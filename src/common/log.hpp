#pragma once
// Standard error, the bridge's only log. Lines go through a bounded queue drained by one
// thread of their own, so a full or slow stderr pipe holds up that thread and never the
// I/O thread; when the queue is full, lines are dropped and counted. Every line reaches the
// pipe in a single write, so lines from different threads never interleave and a reader
// never sees half a line.
#include <cstddef>
#include <string>
#include <string_view>

#include "common/json_util.hpp"

namespace cutrelay {

// Longest logged JSON text; longer values are shortened (see loggable_json).
inline constexpr std::size_t kMaxLoggedJson = 4096;

// Queues one line (a line end is added).
void log_line(std::string_view line);

// Writes one line at once, in a single write, bypassing the queue: for the start line,
// which readers wait for, and for the last words of a process about to exit.
void write_line_now(std::string_view line);

// Waits until queued lines are written, for at most about a second.
void flush_log();

// Compact JSON with sorted members, as on the wire, shortened to at most about
// kMaxLoggedJson bytes: long strings, long arrays and objects and deep nesting are cut
// ("…" marks each cut). The work done is bounded whatever the size of the value.
std::string loggable_json(const json& value);

}  // namespace cutrelay
