#include <sys/stat.h>

#include <gtest/gtest.h>

#include <set>

#include "common/files.hpp"
#include "server/startup.hpp"
#include "test_dir.hpp"

namespace cutrelay {
namespace {

unsigned mode_of(const std::filesystem::path& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 0777;
}

TEST(Token, FortyEightAlphanumericsAndNeverTheSame) {
  std::set<std::string> seen;
  std::set<char> characters;
  for (int i = 0; i < 200; ++i) {
    const std::string token = make_token();
    ASSERT_EQ(token.size(), 48u);
    for (char c : token) {
      ASSERT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << token;
      characters.insert(c);
    }
    seen.insert(token);
  }
  EXPECT_EQ(seen.size(), 200u);
  // 9600 draws from 62 characters reach every one of them, 9 and z included.
  EXPECT_EQ(characters.size(), 62u);
}

TEST(Token, KeptWhenAtLeast32BytesAfterTrimming) {
  ScratchDir dir;
  const std::string forty(40, 'k');
  dir.write("token", forty + "\n");
  EXPECT_EQ(load_or_create_token(dir.path), forty);
  EXPECT_EQ(*read_file(dir.path / "token"), forty + "\n");  // left as it was

  const std::string padded = "  \t" + std::string(32, 'p') + " \r\n";
  dir.write("token", padded);
  EXPECT_EQ(load_or_create_token(dir.path), std::string(32, 'p'));
}

TEST(Token, ReplacedWhenShortUnreadableOrNotUtf8) {
  ScratchDir dir;
  for (const std::string& bad : {std::string(31, 'x'), std::string("   ") + std::string(31, 'y') + "   ",
                                 std::string(40, 'z') + "\xFF", std::string()}) {
    dir.write("token", bad);
    const std::string token = load_or_create_token(dir.path);
    EXPECT_EQ(token.size(), 48u);
    EXPECT_EQ(*read_file(dir.path / "token"), token);
    EXPECT_EQ(mode_of(dir.path / "token"), 0600u);
  }
  std::filesystem::remove(dir.path / "token");
  const std::string fresh = load_or_create_token(dir.path);
  EXPECT_EQ(*read_file(dir.path / "token"), fresh);
}

TEST(Token, UnwritableFolderStillGivesAToken) {
  EXPECT_EQ(load_or_create_token("/nonexistent/cutrelay/dir").size(), 48u);
}

TEST(ConnectionFile, SortedPrettyPrivateAndAlwaysLoopbackUrl) {
  ScratchDir dir;
  dir.write("connection.json", "old");
  ::chmod((dir.path / "connection.json").c_str(), 0644);
  write_connection_file(dir.path, 4321, "tok");
  const std::string text = *read_file(dir.path / "connection.json");
  EXPECT_EQ(text.back(), '}');
  const auto at = [&](const char* key) { return text.find(std::string("\"") + key + "\""); };
  EXPECT_LT(at("bridgeVersion"), at("pid"));
  EXPECT_LT(at("pid"), at("port"));
  EXPECT_LT(at("port"), at("protocol"));
  EXPECT_LT(at("protocol"), at("token"));
  EXPECT_LT(at("token"), at("url"));
  EXPECT_NE(text.find("\n  \"port\": 4321,\n"), std::string::npos);
  const json parsed = json::parse(text);
  EXPECT_EQ(parsed.at("url"), "ws://127.0.0.1:4321/ws?token=tok");
  EXPECT_EQ(parsed.at("protocol"), 1);
  EXPECT_EQ(parsed.at("bridgeVersion"), "0.1.0");
  EXPECT_EQ(mode_of(dir.path / "connection.json"), 0600u);
}

TEST(StateDir, UnderDotQuor) {
  EXPECT_EQ(state_dir_for("/home/u"), std::filesystem::path("/home/u/.quor/cutrelay"));
}

}  // namespace
}  // namespace cutrelay
