#include "server/command_endpoint.hpp"

#include <gtest/gtest.h>

#include "server/dispatch.hpp"

namespace cutrelay {
namespace {

TEST(ContentType, AcceptsJsonInAnyCaseWithParameters) {
  EXPECT_TRUE(is_json_content_type("application/json"));
  EXPECT_TRUE(is_json_content_type("Application/JSON; charset=utf-8"));
  EXPECT_TRUE(is_json_content_type("  application/json\t ;foo"));
  EXPECT_TRUE(is_json_content_type("application/json;"));
}

TEST(ContentType, RejectsOtherTypesAndUnreadableValues) {
  EXPECT_FALSE(is_json_content_type(std::nullopt));
  EXPECT_FALSE(is_json_content_type(""));
  EXPECT_FALSE(is_json_content_type("text/plain"));
  EXPECT_FALSE(is_json_content_type("application/vnd.api+json"));
  EXPECT_FALSE(is_json_content_type("application/json5"));
  EXPECT_FALSE(is_json_content_type("application/ json"));
  EXPECT_FALSE(is_json_content_type("application/json\x01"));
  EXPECT_FALSE(is_json_content_type("application/json; charset=\xC3\xA9"));
}

TEST(Args, MissingOrNullBecomeEmptyObject) {
  EXPECT_EQ(normalize_args(nullptr), json::object());
  const json null_value = nullptr;
  EXPECT_EQ(normalize_args(&null_value), json::object());
}

TEST(Args, StringsAreParsedAsJsonText) {
  const json text = R"({"timeoutSec":5})";
  EXPECT_EQ(normalize_args(&text), (json{{"timeoutSec", 5}}));
  const json list = "[1,2]";
  EXPECT_EQ(normalize_args(&list), json::array({1, 2}));
  const json not_json = "not json";
  EXPECT_EQ(normalize_args(&not_json), json::object());
  const json quoted = "\"inner\"";
  EXPECT_EQ(normalize_args(&quoted), json("inner"));
}

TEST(Args, OtherValuesPassAsTheyAre) {
  for (const json& value : {json(true), json(3), json(2.5), json::array(), json{{"a", 1}}}) {
    EXPECT_EQ(normalize_args(&value), value);
  }
}

TEST(Prefix, OnlyOneExactPrefixIsRemoved) {
  EXPECT_EQ(strip_prefix("premiere_describe"), "describe");
  EXPECT_EQ(strip_prefix("describe"), "describe");
  EXPECT_EQ(strip_prefix("premiere_premiere_status"), "premiere_status");
  EXPECT_EQ(strip_prefix("Premiere_status"), "Premiere_status");
  EXPECT_EQ(strip_prefix("premiere_"), "");
  EXPECT_EQ(strip_prefix("premiere"), "premiere");
  EXPECT_EQ(strip_prefix(""), "");
}

TEST(BodyFailures, CarryTheBufferingText) {
  const HttpReply too_long = body_read_failure(true, "ignored");
  EXPECT_EQ(too_long.status, 413u);
  EXPECT_EQ(too_long.body, "Failed to buffer the request body: length limit exceeded");
  const HttpReply broken = body_read_failure(false, "bad chunk");
  EXPECT_EQ(broken.status, 400u);
  EXPECT_EQ(broken.body, "Failed to buffer the request body: bad chunk");
  EXPECT_EQ(broken.content_type, "text/plain; charset=utf-8");
}

}  // namespace
}  // namespace cutrelay
