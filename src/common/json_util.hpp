#pragma once
// JSON in and out, made safe for whatever bytes arrive: parsing refuses nesting that would
// recurse too deep later (copying, comparing and dumping a json value recurse per level),
// and dumping never throws on invalid UTF-8 (it is replaced by U+FFFD).
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace cutrelay {

using json = nlohmann::json;

// Deepest nesting of arrays and objects accepted from any peer.
inline constexpr std::size_t kMaxJsonDepth = 512;

// Compact text with members in ascending byte order (nlohmann objects are sorted maps).
std::string dump_compact(const json& value);

// Two-space indented text without a trailing line end, as every file of ours is written.
std::string dump_pretty(const json& value);

struct JsonParseResult {
  std::optional<json> value;  // set on success
  std::string error;          // the parser's message otherwise
};

// Parses text as one JSON value. Never throws.
JsonParseResult parse_json(std::string_view text);

// The deepest nesting of '[' / '{' outside strings, stopping once `limit` is passed.
std::size_t json_nesting_depth(std::string_view text, std::size_t limit);

bool is_valid_utf8(std::string_view bytes);

// Decodes bytes as UTF-8, replacing each maximal invalid subsequence by U+FFFD.
std::string to_valid_utf8(std::string_view bytes);

}  // namespace cutrelay
