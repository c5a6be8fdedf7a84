#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace cutrelay {

// Writes `bytes` to `path`, replacing it, readable and writable by the owner only (the file
// is created with mode 600, so the text is never readable by others, even briefly).
bool write_private_file(const std::filesystem::path& path, std::string_view bytes);

// The whole file as bytes, or nothing when it cannot be read. Files larger than `limit`
// count as unreadable.
std::optional<std::string> read_file(const std::filesystem::path& path,
                                     std::size_t limit = 64u << 20);

}  // namespace cutrelay
