#include "server/ws_upgrade.hpp"

#include <gtest/gtest.h>

#include <boost/beast/http/field.hpp>

#include "common/crypto.hpp"

namespace cutrelay {
namespace {

namespace http = boost::beast::http;

http::request<http::string_body> upgrade_request() {
  http::request<http::string_body> req{http::verb::get, "/ws", 11};
  req.set(http::field::connection, "Upgrade");
  req.set(http::field::upgrade, "websocket");
  req.set(http::field::sec_websocket_version, "13");
  req.set(http::field::sec_websocket_key, "dGhlIHNhbXBsZSBub25jZQ==");
  return req;
}

std::optional<UpgradeRefusal> check(const http::request<http::string_body>& req,
                                    std::string_view query) {
  return check_upgrade(req, query, "secret-token");
}

TEST(Upgrade, AcceptsAValidRequestWithTheToken) {
  EXPECT_EQ(check(upgrade_request(), "token=secret-token"), std::nullopt);
  auto req = upgrade_request();
  req.set(http::field::connection, "keep-alive, UPGRADE");
  req.set(http::field::upgrade, "WebSocket");
  EXPECT_EQ(check(req, "x=1&token=secret%2Dtoken"), std::nullopt);
  EXPECT_EQ(check(req, "token=wrong&token=secret-token"), std::nullopt);  // last one counts
}

// Our plug-ins never send the token: they dial with a nonce of their own and are
// challenged. A request with a token is judged by the token alone, as before.
TEST(Upgrade, ANonceInsteadOfTheTokenAsksForTheChallenge) {
  const std::string nonce(64, 'a');
  EXPECT_EQ(check(upgrade_request(), "nonce=" + nonce), std::nullopt);
  EXPECT_EQ(challenge_nonce("nonce=" + nonce), nonce);
  EXPECT_EQ(challenge_nonce("x=1&nonce=" + std::string(32, 'F')), std::string(32, 'F'));
  const std::vector<std::string> refused = {"", "nonce=", "nonce=abc", "nonce=" + std::string(63, 'g'),
                                            "nonce=" + std::string(129, 'a'),
                                            "nonce=" + std::string(63, 'a') + "%20"};
  for (const std::string& bad : refused) {
    const auto r = check(upgrade_request(), bad);
    ASSERT_TRUE(r) << bad;
    EXPECT_EQ(r->body, bad.empty() ? "bad token" : "bad nonce") << bad;
    EXPECT_EQ(challenge_nonce(bad), std::nullopt) << bad;
  }
  // With a token present, the token decides and there is no challenge.
  EXPECT_EQ(check(upgrade_request(), "nonce=" + nonce + "&token=secret-token"), std::nullopt);
  EXPECT_EQ(challenge_nonce("nonce=" + nonce + "&token=secret-token"), std::nullopt);
  EXPECT_EQ(check(upgrade_request(), "nonce=" + nonce + "&token=wrong")->body, "bad token");
}

TEST(Upgrade, ChecksInOrder) {
  const auto status = [](const std::optional<UpgradeRefusal>& r) { return r ? r->status : 0u; };
  const auto body = [](const std::optional<UpgradeRefusal>& r) { return r ? r->body : ""; };

  auto r = check(upgrade_request(), "token=%zz");
  EXPECT_EQ(status(r), 400u);
  EXPECT_TRUE(body(r).starts_with("Failed to deserialize query string: ")) << body(r);

  auto head = upgrade_request();
  head.method(http::verb::head);
  EXPECT_EQ(body(check(head, "")), "Request method must be `GET`");
  EXPECT_EQ(status(check(head, "")), 405u);

  http::request<http::string_body> plain{http::verb::get, "/ws", 11};
  EXPECT_EQ(body(check(plain, "token=secret-token")), "Connection header did not include 'upgrade'");

  auto no_upgrade = upgrade_request();
  no_upgrade.set(http::field::upgrade, "h2c");
  EXPECT_EQ(body(check(no_upgrade, "")), "`Upgrade` header did not include 'websocket'");

  auto old_version = upgrade_request();
  old_version.set(http::field::sec_websocket_version, "12");
  EXPECT_EQ(body(check(old_version, "")), "`Sec-WebSocket-Version` header did not include '13'");

  auto no_key = upgrade_request();
  no_key.erase(http::field::sec_websocket_key);
  EXPECT_EQ(body(check(no_key, "")), "`Sec-WebSocket-Key` header missing");

  auto http10 = upgrade_request();
  http10.version(10);
  EXPECT_EQ(status(check(http10, "token=secret-token")), 426u);

  // The token is looked at last.
  EXPECT_EQ(status(check(upgrade_request(), "")), 401u);
  EXPECT_EQ(body(check(upgrade_request(), "token=secret-tokeN")), "bad token");
  EXPECT_EQ(body(check(upgrade_request(), "token=SECRET-TOKEN")), "bad token");
  EXPECT_EQ(body(check(upgrade_request(), "token=secret-token&token=")), "bad token");
  EXPECT_EQ(body(check(upgrade_request(), "token=secret-token%20")), "bad token");
}

TEST(Upgrade, QueryDecodingTreatsPlusAsSpace) {
  const QueryDecode q = decode_query("a=x+y&b=%41&c&a=z");
  ASSERT_FALSE(q.error);
  EXPECT_EQ(q.params.at("a"), "z");
  EXPECT_EQ(q.params.at("b"), "A");
  EXPECT_EQ(q.params.at("c"), "");
  EXPECT_EQ(decode_query("t=a+b").params.at("t"), "a b");
}

TEST(Upgrade, ConstantTimeEquality) {
  EXPECT_TRUE(constant_time_equal("abc", "abc"));
  EXPECT_FALSE(constant_time_equal("abc", "abd"));
  EXPECT_FALSE(constant_time_equal("abc", "abcd"));
  EXPECT_TRUE(constant_time_equal("", ""));
}

}  // namespace
}  // namespace cutrelay
