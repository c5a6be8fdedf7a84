#include "common/crypto.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#include <openssl/hmac.h>
#endif

#if defined(__APPLE__)
#include <stdlib.h>
#elif !defined(_WIN32)
#include <sys/random.h>
#endif

namespace cutrelay {

std::string secure_random_bytes(std::size_t count) {
  std::string out(count, '\0');
  auto* p = reinterpret_cast<unsigned char*>(out.data());
#if defined(__APPLE__)
  arc4random_buf(p, count);
#elif defined(_WIN32)
  // The system's preferred generator, in pieces its ULONG length can carry.
  std::size_t got = 0;
  while (got < count) {
    const ULONG n = static_cast<ULONG>(std::min<std::size_t>(count - got, 1u << 30));
    if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, p + got, n, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
      std::fputs("BCryptGenRandom failed\n", stderr);
      std::abort();
    }
    got += n;
  }
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

#if defined(_WIN32)
std::string hmac_sha256_hex(std::string_view key, std::string_view data) {
  // CNG's HMAC: a SHA-256 provider opened for HMAC, one hash object per call. The
  // provider is opened once and shared, as CNG allows across threads.
  static const BCRYPT_ALG_HANDLE algorithm = [] {
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA256_ALGORITHM, nullptr,
                                                      BCRYPT_ALG_HANDLE_HMAC_FLAG))) {
      handle = nullptr;
    }
    return handle;
  }();
  unsigned char mac[32];
  BCRYPT_HASH_HANDLE hash = nullptr;
  // BCryptHashData takes a ULONG length; tokens, nonces and messages are far below that.
  const bool ok =
      algorithm != nullptr &&
      BCRYPT_SUCCESS(::BCryptCreateHash(
          algorithm, &hash, nullptr, 0,
          reinterpret_cast<PUCHAR>(const_cast<char*>(key.data())), static_cast<ULONG>(key.size()),
          0)) &&
      BCRYPT_SUCCESS(::BCryptHashData(hash,
                                      reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                                      static_cast<ULONG>(data.size()), 0)) &&
      BCRYPT_SUCCESS(::BCryptFinishHash(hash, mac, sizeof mac, 0));
  if (hash != nullptr) ::BCryptDestroyHash(hash);
  if (!ok) {
    // A proof that cannot be made must not be guessable.
    std::fputs("HMAC-SHA-256 is unavailable\n", stderr);
    std::abort();
  }
  return to_hex(std::string_view(reinterpret_cast<const char*>(mac), sizeof mac));
}
#else
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
#endif

bool constant_time_equal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    diff |= static_cast<unsigned char>(a[i]) ^ static_cast<unsigned char>(b[i]);
  }
  return diff == 0;
}

}  // namespace cutrelay
