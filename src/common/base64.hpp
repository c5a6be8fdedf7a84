#pragma once
#include <string>
#include <string_view>

namespace cutrelay {

// Standard Base64 (RFC 4648 alphabet), the last group padded with "=", no line breaks.
std::string base64_encode(std::string_view bytes);

}  // namespace cutrelay
