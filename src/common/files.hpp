#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace cutrelay {

// Replaces the file at `path` with `bytes` in one step: they are written to a new file
// beside it (created exclusively with `mode`, less the process's umask), which is then
// renamed over `path`. A reader sees the old file or the new one, never part of one, and
// writers at the same time each put down a whole file. A symbolic link at `path` is
// replaced, never written through. The error's text on failure (nothing is left behind).
std::optional<std::string> replace_file(const std::filesystem::path& path, std::string_view bytes,
                                        unsigned mode);

// Writes `bytes` to `path` as replace_file does, readable and writable by the owner only
// (mode 600 from the start, so the text is never readable by others, even briefly).
bool write_private_file(const std::filesystem::path& path, std::string_view bytes);

// Makes `dir` a directory (with its parents). A symbolic link found at `dir` itself is
// removed first, so what is written there lands in a folder of our own.
std::error_code make_own_directory(const std::filesystem::path& dir);

// The whole file as bytes, or nothing when it cannot be read. Files larger than `limit`
// count as unreadable.
std::optional<std::string> read_file(const std::filesystem::path& path,
                                     std::size_t limit = 64u << 20);

}  // namespace cutrelay
