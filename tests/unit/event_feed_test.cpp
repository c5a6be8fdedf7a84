#include "hub/event_feed.hpp"

#include <gtest/gtest.h>

namespace cutrelay {
namespace {

json event(int n) { return {{"type", "event"}, {"kind", "k"}, {"n", n}}; }

TEST(Events, EmptyLog) {
  BridgeState state;
  EXPECT_EQ(events_answer(state, json::object()),
            (json{{"success", true}, {"events", json::array()}, {"lastSeq", 0}}));
}

TEST(Events, NumberedFromOneAndSelectedBySince) {
  BridgeState state;
  for (int i = 1; i <= 3; ++i) record_event(state, event(i));
  const json answer = events_answer(state, {{"sinceSeq", 1}});
  ASSERT_EQ(answer.at("events").size(), 2u);
  EXPECT_EQ(answer.at("events")[0].at("seq"), 2);
  EXPECT_EQ(answer.at("events")[0].at("n"), 2);
  EXPECT_EQ(answer.at("events")[1].at("seq"), 3);
  EXPECT_EQ(answer.at("lastSeq"), 3);
  EXPECT_TRUE(events_answer(state, {{"sinceSeq", 3}}).at("events").empty());
  EXPECT_TRUE(events_answer(state, {{"sinceSeq", 99}}).at("events").empty());
}

TEST(Events, KeepsTheNewest200) {
  BridgeState state;
  for (int i = 1; i <= 250; ++i) record_event(state, event(i));
  const json answer = events_answer(state, json::object());
  ASSERT_EQ(answer.at("events").size(), 200u);
  EXPECT_EQ(answer.at("events").front().at("seq"), 51);
  EXPECT_EQ(answer.at("events").back().at("seq"), 250);
  EXPECT_EQ(answer.at("lastSeq"), 250);
}

TEST(Events, BridgeNumberReplacesThePluginsOwn) {
  BridgeState state;
  json e = event(1);
  e["seq"] = 999;
  record_event(state, e);
  EXPECT_EQ(events_answer(state, json::object()).at("events")[0].at("seq"), 1);
}

TEST(Events, UnusableSinceCountsAsZero) {
  BridgeState state;
  for (int i = 1; i <= 3; ++i) record_event(state, event(i));
  for (const json& since : {json(-5), json(2.5), json("10"), json(nullptr)}) {
    EXPECT_EQ(events_answer(state, {{"sinceSeq", since}}).at("events").size(), 3u) << since;
  }
  EXPECT_EQ(events_answer(state, json::array()).at("events").size(), 3u);
}

}  // namespace
}  // namespace cutrelay
