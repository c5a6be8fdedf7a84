#include "server/mcp_stdio.hpp"

#include <vector>

#include <gtest/gtest.h>

namespace cutrelay {
namespace {

struct Collected {
  std::vector<std::string> lines;
  std::vector<std::string> overflows;
};

void feed(LineSplitter& splitter, Collected& out, std::string_view bytes) {
  splitter.feed(bytes, [&](std::string line) { out.lines.push_back(std::move(line)); },
                [&](std::string start) { out.overflows.push_back(std::move(start)); });
}

TEST(LineSplitter, LinesMayArriveInPiecesAndTogether) {
  LineSplitter splitter(100);
  Collected out;
  feed(splitter, out, "{\"a\":");
  feed(splitter, out, "1}\n{\"b\":2}\n\n{\"c\"");
  EXPECT_EQ(out.lines, (std::vector<std::string>{"{\"a\":1}", "{\"b\":2}", ""}));
  EXPECT_EQ(splitter.rest(), "{\"c\"");
  EXPECT_EQ(splitter.rest(), "");
}

TEST(LineSplitter, AnOverlongLineIsDroppedAndReportedOnceWithItsStart) {
  LineSplitter splitter(8, 4);
  Collected out;
  feed(splitter, out, "0123456789");
  EXPECT_TRUE(splitter.overflowing());
  feed(splitter, out, std::string(1000, 'x'));
  feed(splitter, out, "yz\nok\n");
  EXPECT_EQ(out.overflows, (std::vector<std::string>{"0123"}));
  EXPECT_EQ(out.lines, (std::vector<std::string>{"ok"}));
  // Exactly the limit still fits.
  feed(splitter, out, "12345678\n");
  EXPECT_EQ(out.lines.back(), "12345678");
  EXPECT_EQ(out.overflows.size(), 1u);
}

TEST(ReadableId, TheIdOfARequestCutShort) {
  EXPECT_EQ(readable_id(R"({"jsonrpc":"2.0","id":42,"method":"tools/call","params":{"arguments":{"code":"xxxx)"), json(42));
  EXPECT_EQ(readable_id(R"({"id":"a-1","params":{)"), json("a-1"));
  EXPECT_EQ(readable_id(R"({"method":"x","params":{"id":5,"a":[1,2,{"id":6}]},"id":7,"more)"), json(7));  // only the top level's
  EXPECT_EQ(readable_id(R"({"id":18446744073709551615,"x)"), json(18446744073709551615ull));
  // None to be read, or one that would not come back as it was sent.
  EXPECT_EQ(readable_id(R"({"jsonrpc":"2.0","method":"tools/call","params":{"code":"xxxx)"), std::nullopt);
  EXPECT_EQ(readable_id(R"({"id":1.5,"x)"), std::nullopt);
  EXPECT_EQ(readable_id(R"({"id":123456789012345678901234567890,"x)"), std::nullopt);
  EXPECT_EQ(readable_id(R"({"id":null,"x)"), std::nullopt);
  EXPECT_EQ(readable_id(R"([{"id":1},{"id":2)"), std::nullopt);
  EXPECT_EQ(readable_id("garbage"), std::nullopt);
  EXPECT_EQ(readable_id(std::string(100000, '[')), std::nullopt);
}

TEST(EventStreamReader, EventsMayArriveInPieces) {
  EventStreamReader reader;
  std::vector<std::string> data;
  const auto keep = [&](std::string d) { data.push_back(std::move(d)); };
  reader.feed("event: message\ndata: {\"a\":", keep);
  EXPECT_TRUE(data.empty());
  reader.feed("1}\n\n: a comment\n\nevent: message\r\ndata: {\"b\":2}\r\n\r\ndata: x\ndata: y\n\n", keep);
  EXPECT_EQ(data, (std::vector<std::string>{"{\"a\":1}", "{\"b\":2}", "x\ny"}));
}

}  // namespace
}  // namespace cutrelay
