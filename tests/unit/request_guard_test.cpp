#include "server/request_guard.hpp"

#include <gtest/gtest.h>

namespace cutrelay {
namespace {

TEST(RequestGuard, HostMustBeALoopbackLiteralOrLocalhost) {
  for (const char* host : {"127.0.0.1", "127.0.0.1:8787", "127.9.9.9", "localhost", "LocalHost:80",
                           "[::1]", "[::1]:8787", "[::ffff:127.0.0.1]:8787"}) {
    EXPECT_TRUE(host_header_allowed(host)) << host;
  }
  // Names that DNS rebinding would use, other machines' addresses, and values that are not
  // a plain host[:port].
  for (const char* host : {"evil.example", "evil.example:8787", "localhost.evil.example",
                           "127.0.0.1.nip.io", "user@localhost", "", "local host",
                           "localhost:8787/x", "[::1", "10.1.2.3", "10.0.0.5:1234", "0.0.0.0",
                           "192.168.1.20:8787", "[::2]", "[::ffff:10.0.0.1]", "[::]"}) {
    EXPECT_FALSE(host_header_allowed(host)) << host;
  }
}

TEST(RequestGuard, OriginMustBeLoopbackLocalhostOrNull) {
  for (const char* origin : {"null", "http://localhost", "http://localhost:3000",
                             "https://LOCALHOST", "http://127.0.0.1:8787", "http://127.9.9.9",
                             "http://[::1]:5173"}) {
    EXPECT_TRUE(origin_header_allowed(origin)) << origin;
  }
  for (const char* origin : {"http://evil.example", "https://10.0.0.5", "http://0.0.0.0",
                             "http://localhost.evil.example", "", "Null", "localhost",
                             "file://", "http://[::2]"}) {
    EXPECT_FALSE(origin_header_allowed(origin)) << origin;
  }
}

TEST(RequestGuard, HostIsCheckedBeforeOriginAndAbsentHeadersPass) {
  EXPECT_FALSE(guard_request(std::nullopt, std::nullopt));
  EXPECT_FALSE(guard_request("127.0.0.1:1", "null"));
  auto host = guard_request("evil.example", "http://evil.example");
  ASSERT_TRUE(host);
  EXPECT_EQ(host->status, 403u);
  EXPECT_EQ(host->body, "Host not allowed");
  auto origin = guard_request("localhost", "http://evil.example");
  ASSERT_TRUE(origin);
  EXPECT_EQ(origin->status, 403u);
  EXPECT_EQ(origin->body, "Origin not allowed");
}

}  // namespace
}  // namespace cutrelay
