#include "common/crypto.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <openssl/evp.h>
#include <openssl/hmac.h>

#if defined(__APPLE__)
#include <stdlib.h>
#else
#include <sys/random.h>
#endif

namespace cutrelay {

std::string secure_random_bytes(std::size_t count) {
  std::string out(count, '\0');
  auto* p = reinterpret_cast<unsigned char*>(out.data());
#if defined(__APPLE__)
  arc4random_buf(p, count);
#else
  std::size_t got = 0;
  while (got < count) {
    const ssize_t n = ::getrandom(p + got, count - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      std::perror("getrandom");
      std::abort();
    }
    got += static_cast<std::size_t>(n);
  }
#endif
  return out;
}

std::string to_hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    out.push_back(kDigits[u >> 4]);
    out.push_back(kDigits[u & 0x0F]);
  }
  return out;
}

std::string hmac_sha256_hex(std::string_view key, std::string_view data) {
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  // HMAC() takes an int key length; tokens and nonces are far below that.
  const unsigned char* result =
      HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
           reinterpret_cast<const unsigned char*>(data.data()), data.size(), mac, &length);
  if (result == nullptr) {
    // Only a broken OpenSSL fails here; a proof that cannot be made must not be guessable.
    std::fputs("HMAC-SHA-256 is unavailable\n", stderr);
    std::abort();
  }
  return to_hex(std::string_view(reinterpret_cast<const char*>(mac), length));
}

bool constant_time_equal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    diff |= static_cast<unsigned char>(a[i]) ^ static_cast<unsigned char>(b[i]);
  }
  return diff == 0;
}

}  // namespace cutrelay
