#include "server/command_line.hpp"
#include "server/startup.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace cutrelay {
namespace {

CommandLine parse(std::vector<std::string_view> args) { return parse_command_line(args); }

TEST(PortValue, AcceptsDigitsWithOptionalPlus) {
  EXPECT_EQ(parse_port("8080"), 8080);
  EXPECT_EQ(parse_port("+8080"), 8080);
  EXPECT_EQ(parse_port("0"), 0);
  EXPECT_EQ(parse_port("65535"), 65535);
  EXPECT_EQ(parse_port("000000000000000000000009000"), 9000);
}

TEST(PortValue, RejectsEverythingElse) {
  for (std::string_view bad : {"", "+", "-", "-1", "65536", "99999999999999999999", "++80", "+-80",
                               "80a", "a80", " 80", "80 ", "8 0", "0x50", "８０"}) {
    EXPECT_EQ(parse_port(bad), std::nullopt) << bad;
  }
}

TEST(CommandLineRules, PortForms) {
  EXPECT_EQ(parse({}).port, 0);
  EXPECT_EQ(parse({"--port", "9000"}).port, 9000);
  EXPECT_EQ(parse({"--port=9000"}).port, 9000);
  EXPECT_EQ(parse({"--port=+8080"}).port, 8080);
  EXPECT_EQ(parse({"--port", "0"}).port, 0);
  EXPECT_EQ(parse({"--port=abc"}).port, 0);
  EXPECT_EQ(parse({"--port="}).port, 0);
  EXPECT_EQ(parse({"--port=65536"}).port, 0);
  EXPECT_EQ(parse({"--port=-1"}).port, 0);
  EXPECT_EQ(parse({"--port"}).port, 0);  // missing value
}

TEST(CommandLineRules, LastPortWinsEvenWhenItFails) {
  EXPECT_EQ(parse({"--port", "9000", "--port=9100"}).port, 9100);
  EXPECT_EQ(parse({"--port=9100", "--port", "9000"}).port, 9000);
  EXPECT_EQ(parse({"--port=9100", "--port=x"}).port, 0);
}

TEST(CommandLineRules, OptionsMatchExactly) {
  EXPECT_EQ(parse({"--ports", "9000"}).port, 0);
  EXPECT_EQ(parse({"--PORT", "9000"}).port, 0);
  EXPECT_EQ(parse({"-port", "9000"}).port, 0);
  EXPECT_FALSE(parse({"--version2"}).version);
  EXPECT_FALSE(parse({"--VERSION"}).version);
  EXPECT_FALSE(parse({"-v"}).version);
}

TEST(CommandLineRules, VersionStopsReadingUnlessConsumedAsPortValue) {
  EXPECT_TRUE(parse({"--version"}).version);
  EXPECT_TRUE(parse({"--version", "--port", "9000"}).version);
  EXPECT_TRUE(parse({"--port", "9000", "--version"}).version);
  const CommandLine consumed = parse({"--port", "--version"});
  EXPECT_FALSE(consumed.version);
  EXPECT_EQ(consumed.port, 0);
  // The word after a consumed value is read as an option again.
  EXPECT_EQ(parse({"--port", "--port", "7000"}).port, 0);
  EXPECT_EQ(parse({"--port", "x", "--port", "7000"}).port, 7000);
}

TEST(CommandLineRules, HelpStopsReadingLikeVersion) {
  EXPECT_TRUE(parse({"--help"}).help);
  EXPECT_TRUE(parse({"-h", "--port", "9000"}).help);
  EXPECT_FALSE(parse({"--port", "--help"}).help);  // taken as the port's value
  EXPECT_FALSE(parse({"--HELP"}).help);
  EXPECT_FALSE(parse({"-help"}).help);
}

TEST(CommandLineRules, RequireAgentTokenSwitch) {
  EXPECT_FALSE(parse({}).require_agent_token);
  EXPECT_TRUE(parse({"--require-agent-token"}).require_agent_token);
  EXPECT_TRUE(parse({"--port", "9", "--require-agent-token"}).require_agent_token);
  EXPECT_FALSE(parse({"--require-agent-tokens"}).require_agent_token);
  EXPECT_FALSE(parse({"--port", "--require-agent-token"}).require_agent_token);  // the port's value
}

TEST(CommandLineRules, RequireAgentTokenFromTheEnvironment) {
  EXPECT_TRUE(agent_token_required(true, nullptr));
  EXPECT_FALSE(agent_token_required(false, nullptr));
  for (const char* on : {"1", "true", "YES", " on "}) EXPECT_TRUE(agent_token_required(false, on)) << on;
  for (const char* off : {"", "0", "false", "no", "2"}) EXPECT_FALSE(agent_token_required(false, off)) << off;
}

}  // namespace
}  // namespace cutrelay
