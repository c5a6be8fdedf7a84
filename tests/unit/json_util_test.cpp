#include "common/json_util.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

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

// The parser must build exactly what nlohmann's own parser builds, and refuse exactly what
// it refuses: values, number types (unsigned, signed, float) and the text they dump to.
TEST(JsonText, ParseAgreesWithNlohmannOnEveryKindOfInput) {
  const std::string big(1 << 20, 'z');
  const std::vector<std::string> inputs = {
      R"({"b":1,"a":[true,false,null],"c":{"d":"e","":[]}})",
      " \t\r\n[ 1 , 2 ]\n", "0", "-0", "1", "-1", "9223372036854775807",
      "9223372036854775808", "18446744073709551615", "18446744073709551616",
      "-9223372036854775808", "-9223372036854775809", "123456789012345678901234567890",
      "1.5", "-1.5e-3", "1E5", "1e+2", "0.1", "1e308", "1.7976931348623157e308",
      "2.2250738585072014e-308", "4.9e-324", "3.141592653589793238462643383279",
      "0.30000000000000004", "5e-324", "1e-400", "-1e-400", "1e400", "-1e400", "01", "1.",
      ".5", "-", "+1", "1e", "NaN", "Infinity", "tru", "nul",
      R"("\u00e9\n\t\"\\\/\b\f\r")", R"("\ud83d\ude00")", R"("\ud800")",
      R"("\udc00")", R"("\ud800x")", R"("\u0000")", R"("\u12")", R"("\x")",
      "\"caf\xC3\xA9\"", "\"\xFF\"", "\"\xC0\xAF\"", "\"\xED\xA0\x80\"",
      "\"\xF4\x90\x80\x80\"", "\"\xF0\x9F\x8E\"", "\"a\x01" "b\"", "\"a\x7F\"",
      R"({"a":1,"a":2})", R"({"a":{"x":1},"a":[2]})", "[1,]", R"({"a":1,})", "[1]//c",
      "/*c*/[1]", "[1] x", "1 2", "", "  ", "\xEF\xBB\xBF{}", R"({"a" 1})", "[\f1]",
      "{\"k\":\"" + big + "\"}", std::string(512, '[') + std::string(512, ']'),
  };
  for (const std::string& text : inputs) {
    std::optional<json> expected;
    try {
      expected = json::parse(text);
    } catch (const json::exception&) {
    }
    const JsonParseResult got = parse_json(text);
    ASSERT_EQ(got.value.has_value(), expected.has_value()) << text.substr(0, 80);
    if (!expected) {
      EXPECT_FALSE(got.error.empty());
      continue;
    }
    EXPECT_EQ(*got.value, *expected) << text.substr(0, 80);
    EXPECT_EQ(got.value->type(), expected->type()) << text.substr(0, 80);
    EXPECT_EQ(dump_compact(*got.value), dump_compact(*expected)) << text.substr(0, 80);
  }
}

// Compact text must be nlohmann's own dump, byte for byte, whatever the value holds.
TEST(JsonText, CompactDumpIsNlohmannsDump) {
  const std::string r = "\xEF\xBF\xBD";
  std::vector<json> values = {
      json::object(), json::array(), "", "plain text of more than eight bytes",
      "quote \" backslash \\ slash / tab \t nl \n cr \r bs \b ff \f", std::string("nul \0 x", 7),
      "\x01\x1F\x7F", "caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x8E\xAC long enough to use words",
      "bad \xFF utf8", "\xC0\xAF", "\xED\xA0\x80", "\xF0\x9F\x8E", "ends in half \xC3",
      "12345678\"", "1234567\\8", "\x1F" "2345678", 0, -1, 42u,
      std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::uint64_t>::max(), 0.0,
      -0.0, 1.0, 1.5, 0.1, 1e21, 1e-7, 123456.789, 1e308, std::nan(""),
      std::numeric_limits<double>::infinity(), true, false, nullptr,
  };
  json nested = {{"z", values}, {"a", {{"k\n", 1}, {"k\xFF", 2}, {"", {nullptr}}}}, {"m", "x"}};
  values.push_back(nested);
  values.push_back(json::array({nested, nested}));
  values.push_back(std::string(1 << 20, 'a') + "\"" + std::string(100, 'b'));
  for (const json& value : values) {
    EXPECT_EQ(dump_compact(value), value.dump(-1, ' ', false, json::error_handler_t::replace))
        << value.dump(-1, ' ', true, json::error_handler_t::replace).substr(0, 80);
  }
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
