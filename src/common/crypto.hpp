#pragma once
// The few cryptographic pieces the bridge needs, on well-known implementations: random
// bytes from the operating system's entropy source, HMAC-SHA-256 from OpenSSL (from CNG on
// Windows), and a comparison whose time does not depend on where two secrets differ.
#include <cstddef>
#include <string>
#include <string_view>

namespace cutrelay {

// `count` bytes from the operating system's entropy source (getrandom, arc4random_buf,
// BCryptGenRandom).
// Ends the process when there is none: a guessable secret is worse than no bridge.
std::string secure_random_bytes(std::size_t count);

// Lower-case hexadecimal of `bytes`.
std::string to_hex(std::string_view bytes);

// HMAC-SHA-256 of `data` keyed by `key` (RFC 2104), as 64 lower-case hexadecimal digits.
std::string hmac_sha256_hex(std::string_view key, std::string_view data);

// Byte equality in time independent of where the texts differ. The length of the texts
// is no secret.
bool constant_time_equal(std::string_view a, std::string_view b);

}  // namespace cutrelay
