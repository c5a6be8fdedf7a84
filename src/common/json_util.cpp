#include "common/json_util.hpp"

#include <algorithm>
#include <cstdint>

namespace cutrelay {

std::string dump_compact(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string dump_pretty(const json& value) {
  return value.dump(2, ' ', false, json::error_handler_t::replace);
}

std::size_t json_nesting_depth(std::string_view text, std::size_t limit) {
  std::size_t depth = 0;
  std::size_t deepest = 0;
  bool in_string = false;
  bool escaped = false;
  for (char c : text) {
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    switch (c) {
      case '"':
        in_string = true;
        break;
      case '[':
      case '{':
        if (++depth > deepest) {
          deepest = depth;
          if (deepest > limit) return deepest;
        }
        break;
      case ']':
      case '}':
        if (depth > 0) --depth;
        break;
      default:
        break;
    }
  }
  return deepest;
}

JsonParseResult parse_json(std::string_view text) {
  JsonParseResult out;
  if (json_nesting_depth(text, kMaxJsonDepth) > kMaxJsonDepth) {
    out.error = "nesting deeper than " + std::to_string(kMaxJsonDepth) + " levels";
    return out;
  }
  // The parser would take a NUL byte for the end of the text and ignore what follows.
  if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
    const std::string_view before = text.substr(0, nul);
    const std::size_t line = static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n')) + 1;
    const std::size_t last_break = before.rfind('\n');
    const std::size_t column = last_break == std::string_view::npos ? nul + 1 : nul - last_break;
    out.error = "parse error at line " + std::to_string(line) + ", column " +
                std::to_string(column) + ": syntax error - unexpected NUL byte";
    return out;
  }
  try {
    out.value = json::parse(text.begin(), text.end());
  } catch (const json::exception& e) {
    // Drop the library's "[json.exception.parse_error.101] " tag; keep the sentence that
    // names the line and column.
    std::string_view what = e.what();
    if (!what.empty() && what.front() == '[') {
      if (auto close = what.find("] "); close != std::string_view::npos) {
        what.remove_prefix(close + 2);
      }
    }
    out.error = to_valid_utf8(what);
  }
  return out;
}

namespace {

// Length of the valid UTF-8 sequence starting at s[i], or 0 when it is invalid; `consumed`
// receives how many bytes form the maximal invalid prefix in that case (at least 1).
std::size_t utf8_sequence(std::string_view s, std::size_t i, std::size_t& consumed) {
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
  const std::uint8_t b0 = byte(i);
  consumed = 1;
  if (b0 < 0x80) return 1;
  std::size_t need;
  std::uint8_t lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  for (std::size_t k = 1; k <= need; ++k) {
    if (i + k >= s.size()) return 0;
    const std::uint8_t b = byte(i + k);
    const std::uint8_t min = k == 1 ? lo : 0x80;
    const std::uint8_t max = k == 1 ? hi : 0xBF;
    if (b < min || b > max) return 0;
    consumed = k + 1;
  }
  return need + 1;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t consumed;
    const std::size_t n = utf8_sequence(bytes, i, consumed);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string to_valid_utf8(std::string_view bytes) {
  if (is_valid_utf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + 16);
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t consumed;
    const std::size_t n = utf8_sequence(bytes, i, consumed);
    if (n > 0) {
      out.append(bytes.substr(i, n));
      i += n;
    } else {
      out.append("\xEF\xBF\xBD");
      i += consumed;
    }
  }
  return out;
}

}  // namespace cutrelay
