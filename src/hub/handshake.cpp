#include "hub/handshake.hpp"

#include "common/crypto.hpp"
#include "common/json_util.hpp"

namespace cutrelay {

namespace {

constexpr std::size_t kMinNonceDigits = 32;
constexpr std::size_t kMaxNonceDigits = 128;

std::string proof(std::string_view label, std::string_view token, std::uint16_t port,
                  std::string_view first, std::string_view second) {
  std::string data(label);
  data += '\n';
  data += std::to_string(port);
  data += '\n';
  data += first;
  data += '\n';
  data += second;
  return hmac_sha256_hex(token, data);
}

}  // namespace

bool is_valid_nonce(std::string_view nonce) {
  if (nonce.size() < kMinNonceDigits || nonce.size() > kMaxNonceDigits) return false;
  for (const char c : nonce) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex) return false;
  }
  return true;
}

std::string new_nonce() { return to_hex(secure_random_bytes(kNonceBytes)); }

std::string bridge_proof(std::string_view token, std::uint16_t port, std::string_view plugin_nonce,
                         std::string_view bridge_nonce) {
  return proof("quor-bridge-proof", token, port, plugin_nonce, bridge_nonce);
}

std::string plugin_proof(std::string_view token, std::uint16_t port, std::string_view bridge_nonce,
                         std::string_view plugin_nonce) {
  return proof("quor-plugin-proof", token, port, bridge_nonce, plugin_nonce);
}

std::string challenge_text(std::string_view bridge_nonce, std::string_view proof) {
  return dump_compact({{"nonce", bridge_nonce}, {"proof", proof}, {"type", "challenge"}});
}

}  // namespace cutrelay
