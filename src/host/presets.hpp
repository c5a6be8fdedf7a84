#pragma once
// Finding the export presets (.epr files) of Premiere Pro and Media Encoder: where they
// live, what they are called, which encoder they use.
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/json_util.hpp"

namespace cutrelay {

inline constexpr std::size_t kPresetMaxDepth = 7;
inline constexpr std::size_t kPresetMaxFiles = 5000;
inline constexpr std::size_t kPresetHeadBytes = 16384;

// The folders searched, in order: the user's two document folders, two per Premiere Pro
// install, one per Media Encoder under `applications` (whether or not they exist).
std::vector<std::filesystem::path> preset_roots(const std::filesystem::path& home,
                                                const std::filesystem::path& applications);

// The .epr files under `root`, appended to `found` in listing order, within the depth and
// file-count limits.
void collect_presets(const std::filesystem::path& root, std::vector<std::filesystem::path>& found);

// A preset's display name from the head of its file (`head` is empty when it could not be
// read) and its path: the PresetName or Name tag, a localisation key's PresetName= part,
// or the file's stem.
std::string preset_name(std::string_view head, const std::filesystem::path& path);

// The encoder a preset folder's name encodes after its first '_' as four hexadecimal byte
// pairs ("4D504547_48323634" is H264), when they are printable ASCII.
std::optional<std::string> preset_format(std::string_view folder_name);

// Full Unicode lower-casing of UTF-8 text (invalid bytes are replaced first).
std::string unicode_lower(std::string_view text);

// {name, format, path} records: filtered by `search` (case-insensitively, over the name,
// format and path), sorted by name bytes, repeats of name and format dropped.
json select_presets(std::vector<json> records, const std::string* search);

// The `list_export_presets` verb; `extra_roots` are searched after the machine's own (a
// simulated Premiere's presets).
json list_export_presets(const json& args, const std::vector<std::filesystem::path>& extra_roots = {});

}  // namespace cutrelay
