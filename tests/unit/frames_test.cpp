#include "host/frames.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>

#include "common/base64.hpp"
#include "test_dir.hpp"

namespace cutrelay {
namespace {

TEST(Base64, StandardAlphabetPadded) {
  EXPECT_EQ(base64_encode(""), "");
  EXPECT_EQ(base64_encode("f"), "Zg==");
  EXPECT_EQ(base64_encode("fo"), "Zm8=");
  EXPECT_EQ(base64_encode("foo"), "Zm9v");
  EXPECT_EQ(base64_encode("foobar"), "Zm9vYmFy");
  EXPECT_EQ(base64_encode(std::string("\xfb\xff\xbf\x00", 4)), "+/+/AA==");
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  const std::string encoded = base64_encode(all);
  EXPECT_EQ(encoded.size(), 344u);
  EXPECT_EQ(encoded.find('\n'), std::string::npos);
  EXPECT_TRUE(encoded.ends_with("+/w=="));
}

TEST(ReadWholeFile, LimitTellsExactSizeFromLarger) {
  ScratchDir dir;
  dir.write("five", "12345");
  FileRead r = read_whole_file(dir.path / "five", 5);
  EXPECT_FALSE(r.error);
  EXPECT_FALSE(r.too_large());
  EXPECT_EQ(r.bytes, "12345");
  r = read_whole_file(dir.path / "five", 4);
  EXPECT_TRUE(r.too_large());
  EXPECT_EQ(r.size, 5u);
  r = read_whole_file(dir.path / "five", 0);
  EXPECT_TRUE(r.too_large());
  EXPECT_TRUE(r.bytes.empty());
}

TEST(ReadWholeFile, FailuresCarryTheSystemError) {
  ScratchDir dir;
  EXPECT_EQ(read_whole_file(dir.path / "missing", 10).error, std::errc::no_such_file_or_directory);
  EXPECT_EQ(read_whole_file(dir.path, 10).error, std::errc::is_a_directory);
  // A FIFO without a writer neither blocks the open nor the read.
  const auto fifo = dir.path / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const FileRead r = read_whole_file(fifo, 10);
  EXPECT_FALSE(r.error);
  EXPECT_TRUE(r.bytes.empty());
}

TEST(InlineImage, AlwaysPngWithLength) {
  EXPECT_EQ(inline_image("abcd"), json({{"mime", "image/png"}, {"base64", "YWJjZA=="}, {"bytes", 4}}));
}

}  // namespace
}  // namespace cutrelay

namespace cutrelay {
namespace {

using namespace std::chrono_literals;

bool wait_stable(const std::filesystem::path& path, std::chrono::milliseconds limit) {
  boost::asio::io_context ioc;
  auto result = boost::asio::co_spawn(ioc, wait_for_stable_file(path, limit), boost::asio::use_future);
  ioc.run();
  return result.get();
}

TEST(WaitForStableFile, OneLookAtLeastAndZeroNeverCounts) {
  ScratchDir dir;
  dir.write("frame.png", "png bytes");
  dir.write("empty.png", "");
  // With no time at all, the one look decides: a file with bytes passes, empty or missing not.
  EXPECT_TRUE(wait_stable(dir.path / "frame.png", 0ms));
  EXPECT_FALSE(wait_stable(dir.path / "empty.png", 0ms));
  EXPECT_FALSE(wait_stable(dir.path / "missing.png", 0ms));
  EXPECT_FALSE(wait_stable("", 0ms));
  // Two looks a poll apart seeing the same size settle it before the limit.
  EXPECT_TRUE(wait_stable(dir.path / "frame.png", 10s));
  EXPECT_FALSE(wait_stable(dir.path / "empty.png", 700ms));
}

}  // namespace
}  // namespace cutrelay
