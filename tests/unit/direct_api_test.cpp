#include "direct_api/direct_api.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

#include "direct_api/monitor_snapshot.hpp"

namespace cutrelay {
namespace {

using std::nullopt;

TEST(DirectApiEndpoint, VariableWinsAndLosesItsTrailingSlashes) {
  EXPECT_EQ(direct_api_endpoint("http://127.0.0.1:4567///", "9999").host_port, "127.0.0.1:4567");
  EXPECT_EQ(direct_api_endpoint("http://127.0.0.1:4567", nullopt).host_port, "127.0.0.1:4567");
  // Only slashes go; white space is part of the value.
  EXPECT_EQ(direct_api_endpoint("http://h:1 /", nullopt).host_port, "h:1 ");
}

TEST(DirectApiEndpoint, PortFileHoldsABarePortOrHostAndPort) {
  EXPECT_EQ(direct_api_endpoint(nullopt, "4567\n").host_port, "127.0.0.1:4567");
  EXPECT_EQ(direct_api_endpoint(nullopt, " localhost:4567 \r\n").host_port, "localhost:4567");
  EXPECT_EQ(direct_api_endpoint(nullopt, "[::1]:80").host_port, "[::1]:80");
  // Not validated here: a malformed port surfaces when connecting.
  EXPECT_EQ(direct_api_endpoint(nullopt, "abc").host_port, "127.0.0.1:abc");
}

TEST(DirectApiEndpoint, RefusesWhatIsNotPlainHttp) {
  for (const char* url : {"https://127.0.0.1:4567", "", "HTTP://127.0.0.1:1", "127.0.0.1:1", "///"}) {
    const Endpoint e = direct_api_endpoint(std::string(url), nullopt);
    EXPECT_TRUE(e.host_port.empty()) << url;
    EXPECT_EQ(e.error, "direct API must be http://") << url;
  }
  EXPECT_EQ(direct_api_endpoint(nullopt, nullopt).error,
            "Quor Bridge direct API not found (QUOR_DIRECT_API_URL unset)");
}

TEST(DirectApiTimeLimit, SixtySecondsUnlessATestShortensIt) {
  using namespace std::chrono_literals;
  ::unsetenv("CUTRELAY_TEST_DIRECT_API_TIMEOUT_MS");
  EXPECT_EQ(direct_api_time_limit(), 60s);
  ::setenv("CUTRELAY_TEST_DIRECT_API_TIMEOUT_MS", "1500", 1);
  EXPECT_EQ(direct_api_time_limit(), 1500ms);
  ::setenv("CUTRELAY_TEST_DIRECT_API_TIMEOUT_MS", "999999999", 1);
  EXPECT_EQ(direct_api_time_limit(), 60s);  // never longer
  ::setenv("CUTRELAY_TEST_DIRECT_API_TIMEOUT_MS", "15s", 1);
  EXPECT_EQ(direct_api_time_limit(), 60s);
  ::unsetenv("CUTRELAY_TEST_DIRECT_API_TIMEOUT_MS");
}

TEST(DirectApiRequest, BytesAsSentWithTheTokenLast) {
  EXPECT_EQ(direct_api_request("127.0.0.1:4567", "desktop_list_windows", json::object(), ""),
            "POST /command HTTP/1.1\r\n"
            "Host: 127.0.0.1:4567\r\n"
            "Content-Type: application/json\r\n"
            "Content-Length: 44\r\n"
            "Connection: close\r\n"
            "\r\n"
            R"({"args":{},"command":"desktop_list_windows"})");
  const std::string with_token =
      direct_api_request("h:1", "desktop_screenshot_window", {{"hwnd", 7}}, "s3cret");
  EXPECT_NE(with_token.find("Connection: close\r\nX-Quor-Bridge-Token: s3cret\r\n\r\n{"),
            std::string::npos);
  // The length counts bytes, not characters.
  EXPECT_NE(direct_api_request("h:1", "c", "é", "").find("Content-Length: 27\r\n"), std::string::npos);
}

TEST(Dechunk, DecodesAndStopsWhereTheCodingGoesWrong) {
  EXPECT_EQ(dechunk("5\r\nhello\r\n0\r\n\r\n"), "hello");
  EXPECT_EQ(dechunk("3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n"), "abcde");
  EXPECT_EQ(dechunk("A\r\n0123456789\r\n0\r\n"), "0123456789");
  EXPECT_EQ(dechunk(" +3 \r\nabc\r\n"), "abc");  // trimmed, one "+" allowed
  EXPECT_EQ(dechunk("5;ext=1\r\nhello\r\n0\r\n\r\n"), "");
  EXPECT_EQ(dechunk("3\r\nabc\r\n9\r\nde\r\n0\r\n"), "abc");  // too large: earlier chunks kept
  EXPECT_EQ(dechunk("3\r\nabc\r\n\r\n\r\n2\r\nde"), "abcde");  // every leading CR LF pair dropped
  EXPECT_EQ(dechunk("3\r\nabcde"), "abc");  // no CR LF after the data: it is not needed
  EXPECT_EQ(dechunk("3\r\nabc\r\n0\r\ntrailer: x\r\n\r\n"), "abc");
  for (const char* bad : {"\r\nabc", "+\r\nabc", "-3\r\nabc", "++3\r\nabc", "x\r\nabc", "3 3\r\nabc",
                          "10000000000000000\r\nabc", "abc"}) {
    EXPECT_EQ(dechunk(bad), "") << bad;
  }
  EXPECT_EQ(dechunk("FFFFFFFFFFFFFFFF\r\nabc"), "");  // fits 64 bits, larger than the rest
  // A chunk ending inside "é" (two bytes) stops decoding with the text before it intact.
  EXPECT_EQ(dechunk("1\r\na\r\n1\r\n\xc3\xa9\r\n0\r\n"), "a");
}

TEST(DirectApiAnswer, HeadIsSplitOffAndStatusIgnored) {
  DirectApiResult r = read_direct_api_answer("HTTP/1.1 500 Oops\r\nX: y\r\n\r\n{\"a\":1}");
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(*r.value, json({{"a", 1}}));

  r = read_direct_api_answer("HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n7\r\n{\"b\":2}\r\n0\r\n\r\n");
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(*r.value, json({{"b", 2}}));

  EXPECT_EQ(read_direct_api_answer("HTTP/1.1 200 OK\r\n{\"a\":1}").error, "bad HTTP response");
  EXPECT_EQ(read_direct_api_answer("").error, "bad HTTP response");
  r = read_direct_api_answer("HTTP/1.1 200 OK\r\n\r\n<html>");
  EXPECT_FALSE(r.ok());
  EXPECT_TRUE(r.error.starts_with("bad JSON from Quor Bridge: ")) << r.error;
  // Broken chunking leaves nothing to parse.
  EXPECT_FALSE(read_direct_api_answer("H\r\ntransfer-encoding: chunked\r\n\r\nzz\r\n{}").ok());
  // Invalid UTF-8 is replaced before parsing, never fatal.
  r = read_direct_api_answer("H\r\n\r\n{\"t\":\"a\xff\"}");
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.value->at("t"), "a\xef\xbf\xbd");
}

TEST(DirectApiAnswer, OutputStringHoldingJsonIsParsed) {
  DirectApiResult r = read_direct_api_answer(
      "H\r\n\r\n{\"output\":\"{\\\"data\\\":{\\\"windows\\\":[]}}\",\"ok\":true}");
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.value->at("output"), json({{"data", {{"windows", json::array()}}}}));
  r = read_direct_api_answer("H\r\n\r\n{\"output\":\"not json\"}");
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.value->at("output"), "not json");
  r = read_direct_api_answer("H\r\n\r\n[\"output\"]");
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(*r.value, json::array({"output"}));
}

json win(json bundle, json title, json width, json height, json hwnd) {
  return {{"appBundleId", bundle}, {"title", title}, {"rect", {{"width", width}, {"height", height}}},
          {"hwnd", hwnd}};
}

TEST(WindowChoice, MatchRule) {
  EXPECT_TRUE(is_premiere_window(win("com.adobe.PremierePro", nullptr, 1, 1, 1)));
  EXPECT_TRUE(is_premiere_window(win("com.adobe.PremierePro.25", nullptr, 1, 1, 1)));
  EXPECT_TRUE(is_premiere_window(win(nullptr, "/Users/a/Cut.prproj *", 1, 1, 1)));
  EXPECT_TRUE(is_premiere_window(win(5, "Adobe Premiere Pro 2025", 1, 1, 1)));
  EXPECT_FALSE(is_premiere_window(win("com.apple.finder", "adobe premiere pro", 1, 1, 1)));
  EXPECT_FALSE(is_premiere_window(win("com.adobe.premierepro", "Premiere", 1, 1, 1)));
  EXPECT_FALSE(is_premiere_window(json::array()));
  EXPECT_FALSE(is_premiere_window(json("com.adobe.PremierePro")));
}

TEST(WindowChoice, AreaCountsOnlySignedIntegers) {
  EXPECT_EQ(window_area(win("", "", 1920, 1080, 1)), 1920 * 1080);
  EXPECT_EQ(window_area(win("", "", -2, 3, 1)), -6);
  EXPECT_EQ(window_area(win("", "", 10.0, 3, 1)), 0);
  EXPECT_EQ(window_area(win("", "", "10", 3, 1)), 0);
  EXPECT_EQ(window_area(win("", "", 18446744073709551615ull, 3, 1)), 0);
  EXPECT_EQ(window_area(json{{"rect", 5}}), 0);
  EXPECT_EQ(window_area(json::object()), 0);
  // INT64_MAX squared does not overflow.
  const json huge = win("", "", INT64_MAX, INT64_MAX, 1);
  EXPECT_GT(window_area(huge), window_area(win("", "", INT64_MAX, 2, 1)));
}

TEST(WindowChoice, LargestPremiereWindowTheLaterOfEqualAreas) {
  const json windows = json::array({
      win("com.apple.Terminal", "zsh", 5000, 5000, 1),
      win("com.adobe.PremierePro.25", "Cut.prproj", 400, 300, 2),  // a palette
      win("com.adobe.PremierePro.25", "Adobe Premiere Pro 2025 - Cut.prproj", 1920, 1080, 3),
      win(nullptr, "Cut.prproj", 300, 400, 4),
  });
  EXPECT_EQ(choose_window(windows)->at("hwnd"), 3);
  const json twins = json::array({win("com.adobe.PremierePro", "", 10, 10, "a"),
                                  win("com.adobe.PremierePro", "", 10, 10, "b")});
  EXPECT_EQ(choose_window(twins)->at("hwnd"), "b");
  // Negative and zero areas still count as windows.
  EXPECT_EQ(choose_window(json::array({win("com.adobe.PremierePro", "", -1, 1, 9)}))->at("hwnd"), 9);
  EXPECT_EQ(choose_window(json::array({windows[0]})), nullptr);
  EXPECT_EQ(choose_window(json::object()), nullptr);
}

TEST(SettleDelay, SevenHundredByDefaultAndAtMostAMinute) {
  using std::chrono::milliseconds;
  EXPECT_EQ(settle_delay(json::object()), milliseconds(700));
  EXPECT_EQ(settle_delay({{"settleMs", 0}}), milliseconds(0));
  EXPECT_EQ(settle_delay({{"settleMs", 250}}), milliseconds(250));
  for (const json& ignored : {json(1.5), json("500"), json(-1)}) {
    EXPECT_EQ(settle_delay({{"settleMs", ignored}}), milliseconds(700)) << ignored;
  }
  // 9e15 ms used to overflow the timer and fire at once; 9.2e12 ms to wait 292 years.
  for (const json& huge : {json(9'000'000'000'000'000ull), json(9'200'000'000'000ull),
                           json(UINT64_MAX), json(60'001)}) {
    EXPECT_EQ(settle_delay({{"settleMs", huge}}), milliseconds(60'000)) << huge;
  }
}

TEST(SnapshotAnswer, EveryShapeOfTheCaptureAnswer) {
  const json window = {{"hwnd", 42}, {"title", "Cut.prproj"}, {"rect", {{"width", 1}}}};
  json a = snapshot_answer(window, {{"output", {{"data", {{"image", "iVBO"}, {"safePath", "/s.png"}}}}}});
  EXPECT_EQ(a, json({{"success", true},
                     {"image", {{"mime", "image/png"}, {"base64", "iVBO"}}},
                     {"window", {{"hwnd", 42}, {"title", "Cut.prproj"}}},
                     {"safePath", "/s.png"},
                     {"fullPath", nullptr},
                     {"error", nullptr}}));
  a = snapshot_answer(window, {{"output", {{"image", "QUJD"}, {"data", 3}}}});
  EXPECT_EQ(a.at("image").at("base64"), "QUJD");
  EXPECT_EQ(a.at("success"), true);

  a = snapshot_answer(json::object(), {{"output", {{"data", {{"safePath", "/x"}, {"fullPath", 7}}}}}});
  EXPECT_EQ(a.at("success"), true);
  EXPECT_TRUE(a.at("image").is_null());
  EXPECT_EQ(a.at("fullPath"), 7);
  EXPECT_EQ(a.at("window"), json({{"hwnd", nullptr}, {"title", nullptr}}));

  a = snapshot_answer(window, {{"error", "window gone"}});
  EXPECT_EQ(a.at("success"), false);
  EXPECT_TRUE(a.at("image").is_null());
  EXPECT_EQ(a.at("error"), "window gone");
  // With an output present, the top-level error is not copied.
  a = snapshot_answer(window, {{"error", "x"}, {"output", {{"data", {{"image", 5}}}}}});
  EXPECT_EQ(a.at("success"), false);
  EXPECT_TRUE(a.at("error").is_null());
  EXPECT_TRUE(a.at("image").is_null());
}

}  // namespace
}  // namespace cutrelay
