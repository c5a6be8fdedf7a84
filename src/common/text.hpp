#pragma once
#include <string_view>

namespace cutrelay {

inline constexpr std::string_view kBlanks = " \t";
inline constexpr std::string_view kAsciiSpace = " \t\n\v\f\r";

// `text` without leading and trailing characters from `chars`.
constexpr std::string_view trim(std::string_view text, std::string_view chars = kBlanks) {
  const auto first = text.find_first_not_of(chars);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(chars) - first + 1);
}

}  // namespace cutrelay
