#pragma once
// The small differences between the systems the bridge runs on, each behind one call:
// process identity, signals, descriptor limits, standard streams, sockets.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

namespace cutrelay {

// What the system's executables end with: ".exe" on Windows, nothing elsewhere.
#if defined(_WIN32)
inline constexpr std::string_view kExecutableSuffix = ".exe";
#else
inline constexpr std::string_view kExecutableSuffix = "";
#endif

std::int64_t current_process_id();

// The running program's own file, or nothing when the system does not say.
std::optional<std::filesystem::path> own_executable();

// A write to a closed pipe or socket fails with an error instead of ending the process
// (SIGPIPE is ignored). Nothing to do on Windows, which has no such signal.
void ignore_broken_pipe_signal();

// Asks this process to end as SIGTERM would, through the handlers waiting for it.
void request_termination();

// Standard input and output carry bytes as they are: on Windows the C runtime would
// otherwise turn line feeds into CR LF and stop reading at a Ctrl-Z.
void binary_standard_streams();

// The current limit on open descriptors, or nothing when there is none to speak of
// (unlimited, or Windows, where sockets are not counted against one).
std::optional<std::uint64_t> open_descriptor_limit();

// Raises the open-descriptor limit towards `wanted` (never past the hard limit); the limit
// in force afterwards, or nothing as above.
std::optional<std::uint64_t> raise_open_descriptor_limit(std::uint64_t wanted);

// Whether a connected socket that should be idle is still open and has nothing unread:
// false when the peer closed it or sent something unasked. Never blocks.
bool socket_idle_and_open(std::uintptr_t native_socket);

}  // namespace cutrelay
