#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace cutrelay {

// A path as UTF-8 text, and UTF-8 text as a path, the same on every system (a path's
// string() is in the system's narrow encoding, which on Windows need not be UTF-8).
std::string path_utf8(const std::filesystem::path& path);
std::filesystem::path utf8_path(std::string_view text);

// Replaces the file at `path` with `bytes` in one step: they are written to a new file
// beside it (created exclusively with `mode`, less the process's umask), which is then
// renamed over `path`. A reader sees the old file or the new one, never part of one, and
// writers at the same time each put down a whole file. A symbolic link at `path` is
// replaced, never written through. The error's text on failure (nothing is left behind).
// On Windows a `mode` without group or other bits gives the file an access list naming
// the current user alone.
std::optional<std::string> replace_file(const std::filesystem::path& path, std::string_view bytes,
                                        unsigned mode);

// Writes `bytes` to `path` as replace_file does, readable and writable by the owner only
// (mode 600, or the current user's access list alone, from the start, so the text is never
// readable by others, even briefly).
bool write_private_file(const std::filesystem::path& path, std::string_view bytes);

// Makes `dir` a directory (with its parents). A symbolic link found at `dir` itself is
// removed first, so what is written there lands in a folder of our own.
std::error_code make_own_directory(const std::filesystem::path& dir);

// The whole file as bytes, or nothing when it cannot be read. Files larger than `limit`
// count as unreadable.
std::optional<std::string> read_file(const std::filesystem::path& path,
                                     std::size_t limit = 64u << 20);

}  // namespace cutrelay
