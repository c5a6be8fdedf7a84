#include "common/json_util.hpp"

#include <gtest/gtest.h>

#include "common/args.hpp"

namespace cutrelay {
namespace {

TEST(Utf8, ValidTextPassesUnchanged) {
  EXPECT_TRUE(is_valid_utf8("plain"));
  EXPECT_TRUE(is_valid_utf8("caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x8E\xAC"));
  EXPECT_EQ(to_valid_utf8("caf\xC3\xA9"), "caf\xC3\xA9");
}

TEST(Utf8, EachMaximalInvalidSubpartBecomesOneReplacement) {
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_EQ(to_valid_utf8("a\xFF" "b"), "a" + r + "b");
  EXPECT_EQ(to_valid_utf8("\xC3"), r);                    // truncated at the end
  EXPECT_EQ(to_valid_utf8("\xE2\x80" "x"), r + "x");      // truncated three-byte form
  EXPECT_EQ(to_valid_utf8("\xED\xA0\x80"), r + r + r);    // surrogate half
  EXPECT_EQ(to_valid_utf8("\xC0\xAF"), r + r);            // overlong
  EXPECT_EQ(to_valid_utf8("\xF4\x90\x80\x80"), r + r + r + r);  // above U+10FFFF
  EXPECT_EQ(to_valid_utf8("\xF0\x9F\x8E"), r);
  EXPECT_FALSE(is_valid_utf8("\x80"));
}

TEST(JsonText, DumpNeverThrowsOnInvalidUtf8) {
  const json value = {{"error", std::string("bad \xFF byte")}};
  EXPECT_EQ(dump_compact(value), "{\"error\":\"bad \xEF\xBF\xBD byte\"}");
}

TEST(JsonText, FilesArePrettyWithoutTrailingNewline) {
  EXPECT_EQ(dump_pretty({{"b", 1}, {"a", 2}}), "{\n  \"a\": 2,\n  \"b\": 1\n}");
}

TEST(JsonText, ParseReportsLineAndColumnWithoutLibraryTag) {
  const JsonParseResult r = parse_json("{\n\"a\":");
  ASSERT_FALSE(r.value);
  EXPECT_NE(r.error.find("line 2"), std::string::npos) << r.error;
  EXPECT_EQ(r.error.find("[json.exception"), std::string::npos);
}

TEST(JsonText, NestingIsBounded) {
  const std::string ok = std::string(kMaxJsonDepth, '[') + std::string(kMaxJsonDepth, ']');
  EXPECT_TRUE(parse_json(ok).value);
  const std::string deep(1'000'000, '[');
  const JsonParseResult r = parse_json(deep);
  EXPECT_FALSE(r.value);
  EXPECT_NE(r.error.find("nesting"), std::string::npos);
  // Brackets inside strings do not count.
  const std::string quoted = "[\"" + std::string(5000, '[') + "\"]";
  EXPECT_TRUE(parse_json(quoted).value);
  EXPECT_EQ(json_nesting_depth(R"(["\"[[[", {"a":[1]}])", 100), 3u);
}

TEST(JsonText, NulBytesDoNotEndTheDocumentEarly) {
  const JsonParseResult r = parse_json(std::string("{\"a\":1}\0garbage", 15));
  EXPECT_FALSE(r.value);
  EXPECT_EQ(r.error, "parse error at line 1, column 8: syntax error - unexpected NUL byte");
}

TEST(JsonText, InvalidUtf8InStringsIsABadDocument) {
  const JsonParseResult r = parse_json("{\"a\":\"\xFF\"}");
  EXPECT_FALSE(r.value);
  EXPECT_TRUE(is_valid_utf8(r.error));
}

TEST(Arguments, IntegersOnlyWhenNonNegative) {
  const json args = json::parse(R"({"a":5,"b":2.5,"c":-1,"d":"30","e":5.0,"f":18446744073709551615,"g":null})");
  EXPECT_EQ(arg_uint(args, "a"), 5u);
  EXPECT_EQ(arg_uint(args, "b"), std::nullopt);
  EXPECT_EQ(arg_uint(args, "c"), std::nullopt);
  EXPECT_EQ(arg_uint(args, "d"), std::nullopt);
  EXPECT_EQ(arg_uint(args, "e"), std::nullopt);
  EXPECT_EQ(arg_uint(args, "f"), 18446744073709551615u);
  EXPECT_EQ(arg_uint(args, "g"), std::nullopt);
  EXPECT_EQ(arg_uint(args, "missing"), std::nullopt);
  EXPECT_EQ(arg_uint(json::array({1}), "a"), std::nullopt);
}

TEST(Arguments, SwitchesFollowTheirDefaults) {
  const json args = json::parse(R"({"t":true,"f":false,"one":1,"s":"true"})");
  EXPECT_TRUE(arg_on(args, "t"));
  EXPECT_FALSE(arg_on(args, "one"));
  EXPECT_FALSE(arg_on(args, "s"));
  EXPECT_FALSE(arg_on(args, "missing"));
  EXPECT_FALSE(arg_not_off(args, "f"));
  EXPECT_TRUE(arg_not_off(args, "one"));
  EXPECT_TRUE(arg_not_off(args, "missing"));
  EXPECT_TRUE(arg_present(json::parse(R"({"dir":null})"), "dir"));
  EXPECT_EQ(arg_string(args, "s")->compare("true"), 0);
  EXPECT_EQ(arg_string(args, "t"), nullptr);
}

}  // namespace
}  // namespace cutrelay
