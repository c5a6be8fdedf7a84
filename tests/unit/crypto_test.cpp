#include "common/crypto.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace cutrelay {
namespace {

// RFC 4231's HMAC-SHA-256 test cases 1 to 4, 6 and 7 (5 is a truncated MAC), and the empty
// key and message. Each implementation (OpenSSL, CNG on Windows) must give the same digests.
TEST(Crypto, HmacSha256MatchesRfc4231Vectors) {
  std::string key25;
  for (int i = 1; i <= 25; ++i) key25.push_back(static_cast<char>(i));
  const std::string key131(131, '\xaa');
  struct Case {
    std::string key, data, mac;
  } cases[] = {
      {std::string(20, '\x0b'), "Hi There",
       "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
      {"Jefe", "what do ya want for nothing?",
       "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
      {std::string(20, '\xaa'), std::string(50, '\xdd'),
       "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
      {key25, std::string(50, '\xcd'),
       "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
      {key131, "Test Using Larger Than Block-Size Key - Hash Key First",
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
      {key131,
       "This is a test using a larger than block-size key and a larger than block-size data. "
       "The key needs to be hashed before being used by the HMAC algorithm.",
       "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
      {"", "", "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad"},
  };
  for (const auto& c : cases) EXPECT_EQ(hmac_sha256_hex(c.key, c.data), c.mac) << c.data;
}

TEST(Crypto, RandomBytesHaveTheLengthAskedAndDiffer) {
  EXPECT_TRUE(secure_random_bytes(0).empty());
  std::set<std::string> seen;
  for (int i = 0; i < 8; ++i) {
    const std::string bytes = secure_random_bytes(32);
    ASSERT_EQ(bytes.size(), 32u);
    seen.insert(bytes);
  }
  EXPECT_EQ(seen.size(), 8u);
  // More than one call's worth on some systems.
  EXPECT_EQ(secure_random_bytes(100000).size(), 100000u);
}

}  // namespace
}  // namespace cutrelay
