#include "common/json_util.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include <boost/json/basic_parser_impl.hpp>

// nlohmann's serialiser is an internal class (nlohmann::detail). Its constructor and dump()
// were read and are the same from 3.10.0 to 3.11.3, the releases this writer was checked
// against; it keeps one serialiser per dump, where the public json::dump builds a new one
// (two allocations and a locale query) for every float and every string that needs
// escaping. Other releases get the public json::dump: the same text, slower (defining
// CUTRELAY_NLOHMANN_SERIALIZER=0 builds that path on any release).
#ifndef CUTRELAY_NLOHMANN_SERIALIZER
#if NLOHMANN_JSON_VERSION_MAJOR == 3 && NLOHMANN_JSON_VERSION_MINOR >= 10 && NLOHMANN_JSON_VERSION_MINOR <= 11
#define CUTRELAY_NLOHMANN_SERIALIZER 1
#else
#define CUTRELAY_NLOHMANN_SERIALIZER 0
#endif
#endif

namespace cutrelay {

namespace {

std::size_t utf8_sequence(std::string_view s, std::size_t i, std::size_t& consumed);

// Whether a string's JSON form is the string itself between quotes: valid UTF-8 with no
// byte that JSON escapes (quote, backslash, controls). Plain ASCII is checked eight bytes
// at a time.
bool needs_no_escape(std::string_view s) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHigh = 0x8080808080808080ull;
  const auto has_zero = [](std::uint64_t v) { return (v - kOnes) & ~v & kHigh; };
  std::size_t i = 0;
  while (i < s.size()) {
    if (i + 8 <= s.size()) {
      std::uint64_t w;
      std::memcpy(&w, s.data() + i, 8);
      const bool plain = (w & kHigh) == 0 &&                     // ASCII
                         !has_zero(w ^ (kOnes * '"')) &&         // no quote
                         !has_zero(w ^ (kOnes * '\\')) &&        // no backslash
                         ((w + kOnes * (0x80 - 0x20)) & kHigh) == kHigh;  // none below 0x20
      if (plain) {
        i += 8;
        continue;
      }
    }
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      if (c < 0x20 || c == '"' || c == '\\') return false;
      ++i;
      continue;
    }
    std::size_t consumed;
    const std::size_t n = utf8_sequence(s, i, consumed);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

// Writes compact JSON exactly as nlohmann's dump(-1, ' ', false, replace) does, faster for
// long strings: a string with nothing to escape is copied whole (nlohmann decodes it byte
// by byte); strings that need escaping or repair, and floating-point numbers, are written
// by nlohmann's own routines.
class CompactWriter {
 public:
  explicit CompactWriter(std::string& out) : out_(out) {}

  void write(const json& value) {
    switch (value.type()) {
      case json::value_t::object: {
        const auto& members = value.get_ref<const json::object_t&>();
        out_ += '{';
        bool first = true;
        for (const auto& [key, member] : members) {
          if (!first) out_ += ',';
          first = false;
          write_key(key);
          out_ += ':';
          write(member);
        }
        out_ += '}';
        return;
      }
      case json::value_t::array: {
        const auto& items = value.get_ref<const json::array_t&>();
        out_ += '[';
        bool first = true;
        for (const json& item : items) {
          if (!first) out_ += ',';
          first = false;
          write(item);
        }
        out_ += ']';
        return;
      }
      case json::value_t::string: {
        const auto& text = value.get_ref<const json::string_t&>();
        if (needs_no_escape(text)) {
          quoted(text);
        } else {
          library(value);
        }
        return;
      }
      case json::value_t::boolean:
        out_ += value.get<bool>() ? "true" : "false";
        return;
      case json::value_t::null:
        out_ += "null";
        return;
      case json::value_t::number_integer:
        integer(value.get<std::int64_t>());
        return;
      case json::value_t::number_unsigned:
        integer(value.get<std::uint64_t>());
        return;
      default:  // floats, binary, discarded
        library(value);
        return;
    }
  }

 private:
  void write_key(const std::string& key) {
    if (needs_no_escape(key)) {
      quoted(key);
    } else {
      library(json(key));
    }
  }
  void quoted(std::string_view text) {
    out_ += '"';
    out_.append(text);
    out_ += '"';
  }
  template <typename Int>
  void integer(Int value) {
    char digits[24];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    out_.append(digits, static_cast<std::size_t>(end - digits));
  }
#if CUTRELAY_NLOHMANN_SERIALIZER
  void library(const json& value) {
    if (!serializer_) {
      serializer_.emplace(nlohmann::detail::output_adapter<char>(out_), ' ',
                          json::error_handler_t::replace);
    }
    serializer_->dump(value, false, false, 0);
  }

  std::string& out_;
  std::optional<nlohmann::detail::serializer<json>> serializer_;
#else
  void library(const json& value) { out_ += value.dump(-1, ' ', false, json::error_handler_t::replace); }

  std::string& out_;
#endif
};

}  // namespace

std::string dump_compact(const json& value) {
  std::string out;
  CompactWriter(out).write(value);
  return out;
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

namespace {

// The parse every text gets when the fast parser below refuses it: nlohmann's own, after
// a nesting check. Its messages are the ones callers see.
JsonParseResult parse_with_nlohmann(std::string_view text) {
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


// Builds nlohmann values from Boost.JSON's parser events. Boost.JSON validates as strictly
// (UTF-8, escapes, nesting, no comments or trailing commas) and reads strings in large
// runs, where nlohmann's lexer copies them byte by byte; the values built are the ones
// nlohmann would build: non-negative integers unsigned, negative ones signed, integers
// out of 64-bit range and every number with a fraction or exponent converted from their
// text as strtod does, duplicate keys resolved to the last.
class DomBuilder {
 public:
  static constexpr std::size_t max_array_size = static_cast<std::size_t>(-1);
  static constexpr std::size_t max_object_size = static_cast<std::size_t>(-1);
  static constexpr std::size_t max_string_size = static_cast<std::size_t>(-1);
  static constexpr std::size_t max_key_size = static_cast<std::size_t>(-1);

  using error_code = boost::json::error_code;
  using string_view = boost::json::string_view;

  bool on_document_begin(error_code&) { return true; }
  bool on_document_end(error_code&) { return true; }

  bool on_array_begin(error_code&) {
    open_.push_back(json::array());
    return true;
  }
  bool on_array_end(std::size_t, error_code&) { return close(); }
  bool on_object_begin(error_code&) {
    open_.push_back(json::object());
    return true;
  }
  bool on_object_end(std::size_t, error_code&) { return close(); }

  bool on_key_part(string_view s, std::size_t, error_code&) {
    text_.append(s.data(), s.size());
    return true;
  }
  bool on_key(string_view s, std::size_t, error_code&) {
    text_.append(s.data(), s.size());
    keys_.push_back(std::move(text_));
    text_.clear();
    return true;
  }
  bool on_string_part(string_view s, std::size_t, error_code&) {
    text_.append(s.data(), s.size());
    return true;
  }
  bool on_string(string_view s, std::size_t, error_code&) {
    if (text_.empty()) return add(json(std::string(s.data(), s.size())));
    text_.append(s.data(), s.size());
    json value(std::move(text_));
    text_.clear();
    return add(std::move(value));
  }

  bool on_number_part(string_view s, error_code&) {
    number_.append(s.data(), s.size());
    return true;
  }
  bool on_int64(std::int64_t i, string_view s, error_code&) {
    const bool negative = (number_.empty() ? (!s.empty() && s.front() == '-')
                                           : number_.front() == '-');
    number_.clear();
    if (negative) return add(json(i));
    return add(json(static_cast<std::uint64_t>(i)));
  }
  bool on_uint64(std::uint64_t u, string_view, error_code&) {
    number_.clear();
    return add(json(u));
  }
  bool on_double(double, string_view s, error_code& ec) {
    // Converted again from the text: the result must be strtod's, to the last bit.
    number_.append(s.data(), s.size());
    double value = 0;
    const auto [end, err] = std::from_chars(number_.data(), number_.data() + number_.size(), value);
    const bool whole = err == std::errc() && end == number_.data() + number_.size();
    number_.clear();
    if (!whole || !std::isfinite(value)) {
      // Out of range (nlohmann refuses overflow and keeps what strtod makes of underflow):
      // left to the reference parser.
      ec = boost::json::error::exponent_overflow;
      return false;
    }
    return add(json(value));
  }
  bool on_bool(bool b, error_code&) { return add(json(b)); }
  bool on_null(error_code&) { return add(json(nullptr)); }
  bool on_comment_part(string_view, error_code&) { return true; }
  bool on_comment(string_view, error_code&) { return true; }

  json take() { return std::move(result_); }

 private:
  bool add(json value) {
    if (open_.empty()) {
      result_ = std::move(value);
      return true;
    }
    json& parent = open_.back();
    if (parent.is_array()) {
      parent.get_ref<json::array_t&>().push_back(std::move(value));
    } else {
      // A repeated key keeps the last value, as nlohmann's own parser does.
      parent.get_ref<json::object_t&>()[std::move(keys_.back())] = std::move(value);
      keys_.pop_back();
    }
    return true;
  }
  bool close() {
    json done = std::move(open_.back());
    open_.pop_back();
    return add(std::move(done));
  }

  std::vector<json> open_;
  std::vector<std::string> keys_;
  std::string text_;
  std::string number_;
  json result_;
};

}  // namespace

JsonParseResult parse_json(std::string_view text) {
  boost::json::parse_options options;
  options.max_depth = kMaxJsonDepth;
  boost::json::basic_parser<DomBuilder> parser(options);
  boost::json::error_code ec;
  const std::size_t used = parser.write_some(false, text.data(), text.size(), ec);
  if (!ec && used == text.size() && parser.done()) {
    JsonParseResult out;
    out.value = parser.handler().take();
    return out;
  }
  // Refused (or a number only strtod can settle): the reference parser decides, and its
  // message is the one reported.
  return parse_with_nlohmann(text);
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
