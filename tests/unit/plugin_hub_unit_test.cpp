#include "hub/plugin_hub.hpp"

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/beast/http/field.hpp>

namespace cutrelay {
namespace {

namespace http = boost::beast::http;

class Registry : public ::testing::Test {
 protected:
  boost::asio::io_context ioc;
  BridgeState state;
  std::shared_ptr<Outbox> box1 = std::make_shared<Outbox>(ioc.get_executor());
  std::shared_ptr<Outbox> box2 = std::make_shared<Outbox>(ioc.get_executor());

  void say(std::uint64_t conn, const std::shared_ptr<Outbox>& box, const json& message) {
    handle_plugin_message(state, conn, box, message.dump());
  }
  // Files call `id` for the plug-in now registered under `runtime`.
  std::shared_ptr<CallSlot> pend(std::uint64_t id, PluginRuntime runtime = PluginRuntime::Uxp) {
    auto slot = std::make_shared<CallSlot>(ioc.get_executor());
    EXPECT_TRUE(state.registry.file_call(runtime, id, slot,
                                         std::make_shared<const std::string>("call")));
    return slot;
  }
  static std::vector<std::string> texts(Outbox& box) {
    std::vector<OutgoingText> items;
    box.drain(items);
    std::vector<std::string> out;
    for (const auto& item : items) out.push_back(*item.text);
    return out;
  }
  // What a slot holds: a message, "closed", or nothing yet.
  static std::string slot_state(CallSlot& slot, json* message = nullptr) {
    switch (slot.state()) {
      case CallSlot::State::Answered:
        if (message) *message = slot.take_message();
        return "message";
      case CallSlot::State::Closed:
        return "closed";
      case CallSlot::State::GaveUp:
        return "gave up";
      default:
        return "empty";
    }
  }
};

TEST_F(Registry, HelloFilesUnderItsRuntimeAndIsWelcomed) {
  say(1, box1, {{"type", "hello"}, {"runtime", "cep"}, {"helperVersion", "0.1.0"}});
  EXPECT_TRUE(is_connected(state, "cep"));
  EXPECT_FALSE(is_connected(state, "uxp"));
  const auto queued = texts(*box1);
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(queued[0], R"({"bridgeVersion":"0.1.0","protocol":1,"type":"welcome"})");
  const auto record = plugin_record(state, "cep");
  ASSERT_TRUE(record);
  EXPECT_EQ(record->first.at("helperVersion"), "0.1.0");
  EXPECT_EQ(record->first.at("type"), "hello");
  EXPECT_EQ(record->second, 0u);
}

TEST_F(Registry, AnyOtherRuntimeCountsAsUxp) {
  for (const json& runtime : {json("CEP"), json("helper"), json(5), json()}) {
    BridgeState fresh;
    json hello = {{"type", "hello"}};
    if (!runtime.is_null()) hello["runtime"] = runtime;
    handle_plugin_message(fresh, 1, box1, hello.dump());
    EXPECT_TRUE(is_connected(fresh, "uxp")) << runtime;
    EXPECT_FALSE(is_connected(fresh, "cep")) << runtime;
  }
}

TEST_F(Registry, NewerHelloReplacesAndOldConnectionEndsQuietly) {
  say(1, box1, {{"type", "hello"}, {"runtime", "uxp"}, {"n", 1}});
  auto superseded_call = pend(10);
  say(2, box2, {{"type", "hello"}, {"runtime", "uxp"}, {"n", 2}});
  EXPECT_EQ(plugin_record(state, "uxp")->first.at("n"), 2);
  EXPECT_TRUE(end_plugin_connection(state, 1).empty());
  EXPECT_TRUE(is_connected(state, "uxp"));
  // The superseded connection's call is left to its time-out.
  EXPECT_EQ(slot_state(*superseded_call), "empty");
  EXPECT_TRUE(state.registry.is_pending(10));
}

TEST_F(Registry, EndOfRegisteredConnectionFailsItsCallsAtOnce) {
  say(1, box1, {{"type", "hello"}, {"runtime", "uxp"}});
  say(2, box2, {{"type", "hello"}, {"runtime", "cep"}});
  auto mine = pend(10, PluginRuntime::Uxp);
  auto other = pend(11, PluginRuntime::Cep);
  EXPECT_EQ(end_plugin_connection(state, 1), std::vector<PluginRuntime>{PluginRuntime::Uxp});
  EXPECT_EQ(slot_state(*mine), "closed");
  EXPECT_EQ(slot_state(*other), "empty");
  EXPECT_FALSE(state.registry.is_pending(10));
  EXPECT_TRUE(state.registry.is_pending(11));
  EXPECT_TRUE(is_connected(state, "cep"));
}

TEST_F(Registry, OneConnectionMayHoldBothRuntimes) {
  say(1, box1, {{"type", "hello"}, {"runtime", "uxp"}});
  say(1, box1, {{"type", "hello"}, {"runtime", "cep"}});
  auto removed = end_plugin_connection(state, 1);
  std::sort(removed.begin(), removed.end());
  EXPECT_EQ(removed, (std::vector<PluginRuntime>{PluginRuntime::Uxp, PluginRuntime::Cep}));
}

TEST_F(Registry, HelloUpdateMergesOnlyAfterTheHello) {
  say(1, box1, {{"type", "hello_update"}, {"fields", {{"project", "A"}}}});
  say(1, box1, {{"type", "hello"}, {"runtime", "uxp"}, {"project", "P"}, {"os", "mac"},
                {"nested", {{"a", 1}, {"b", 2}}}});
  EXPECT_EQ(plugin_record(state, "uxp")->first.at("project"), "P");
  say(1, box1, {{"type", "hello_update"}, {"fields", {{"project", "B"}, {"nested", {{"c", 3}}}}}});
  say(1, box1, {{"type", "hello_update"}, {"fields", "not an object"}});
  say(2, box2, {{"type", "hello_update"}, {"fields", {{"os", "other conn"}}}});
  const json hello = plugin_record(state, "uxp")->first;
  EXPECT_EQ(hello.at("project"), "B");
  EXPECT_EQ(hello.at("os"), "mac");
  EXPECT_EQ(hello.at("nested"), (json{{"c", 3}}));
}

TEST_F(Registry, ResultsGoToTheirCallerByIdOnly) {
  say(99, box2, {{"type", "hello"}, {"runtime", "uxp"}});
  auto slot = pend(7);
  say(1, box1, {{"type", "result"}, {"id", 7}, {"ok", true}, {"result", 1}});
  EXPECT_EQ(state.registry.pending_count(), 0u);
  // A second result for the same id finds nobody and is dropped.
  say(1, box1, {{"type", "result"}, {"id", 7}, {"ok", true}, {"result", 2}});
  json message;
  EXPECT_EQ(slot_state(*slot, &message), "message");
  EXPECT_EQ(message.at("result"), 1);
}

TEST_F(Registry, UnusableMessagesAreIgnored) {
  say(2, box2, {{"type", "hello"}, {"runtime", "uxp"}});
  auto slot = pend(7);
  for (const std::string& text :
       {std::string("not json"), std::string("[1,2]"), std::string("{\"type\":5}"),
        std::string("{\"id\":7,\"ok\":true}"), std::string("{\"type\":\"result\",\"id\":-1}"),
        std::string("{\"type\":\"result\",\"id\":7.5}"), std::string("{\"type\":\"result\",\"id\":\"7\"}"),
        std::string("{\"type\":\"RESULT\",\"id\":7}"), std::string("{\"type\":\"pong\"}"),
        std::string(100000, '[')}) {
    handle_plugin_message(state, 1, box1, text);
  }
  EXPECT_EQ(slot_state(*slot), "empty");
  EXPECT_FALSE(is_connected(state, "cep"));
  EXPECT_TRUE(texts(*box1).empty());
}

TEST_F(Registry, EventsAreNumbered) {
  say(1, box1, {{"type", "event"}, {"kind", "project_dirty"}});
  EXPECT_EQ(state.event_seq, 1u);
  EXPECT_EQ(state.events.front().at("seq"), 1);
}

}  // namespace
}  // namespace cutrelay
