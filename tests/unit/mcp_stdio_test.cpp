#include "server/mcp_stdio.hpp"

#include <vector>

#include <gtest/gtest.h>

namespace cutrelay {
namespace {

struct Collected {
  std::vector<std::string> lines;
  int overflows = 0;
};

void feed(LineSplitter& splitter, Collected& out, std::string_view bytes) {
  splitter.feed(bytes, [&](std::string line) { out.lines.push_back(std::move(line)); },
                [&] { ++out.overflows; });
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

TEST(LineSplitter, AnOverlongLineIsDroppedAndReportedOnceThenReadingGoesOn) {
  LineSplitter splitter(8);
  Collected out;
  feed(splitter, out, "0123456789");
  EXPECT_TRUE(splitter.overflowing());
  feed(splitter, out, std::string(1000, 'x'));
  feed(splitter, out, "yz\nok\n");
  EXPECT_EQ(out.overflows, 1);
  EXPECT_EQ(out.lines, (std::vector<std::string>{"ok"}));
  // Exactly the limit still fits.
  feed(splitter, out, "12345678\n");
  EXPECT_EQ(out.lines.back(), "12345678");
  EXPECT_EQ(out.overflows, 1);
}

}  // namespace
}  // namespace cutrelay
