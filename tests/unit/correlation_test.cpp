// The call correlation core without sockets: call_plugin against a registry whose
// "connection" is an outbox the test drains and answers by hand. Every case runs the
// io_context with a deadline, so a bug fails the case instead of hanging the suite.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>

#include "hub/event_feed.hpp"
#include "hub/forwarding.hpp"
#include "hub/plugin_hub.hpp"

namespace cutrelay {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;

class Correlation : public ::testing::Test {
 protected:
  asio::io_context ioc;
  StatePtr state = std::make_shared<BridgeState>();
  std::shared_ptr<Outbox> box = std::make_shared<Outbox>(ioc.get_executor());
  std::optional<CallOutcome> outcome;

  void SetUp() override {
    handle_plugin_message(*state, 1, box, R"({"type":"hello","runtime":"uxp"})");
    taken();  // the welcome
  }

  // Starts a call to the UXP plug-in; `outcome` is set when it ends.
  void start(std::chrono::seconds timeout = 30s,
             std::optional<asio::cancellation_slot> cancel = std::nullopt) {
    auto done = [this](std::exception_ptr error, CallOutcome result) {
      if (error) std::rethrow_exception(error);
      outcome = std::move(result);
    };
    auto task = call_plugin(state, PluginRuntime::Uxp, "ping", json::object(), timeout);
    if (cancel) {
      asio::co_spawn(ioc, std::move(task), asio::bind_cancellation_slot(*cancel, done));
    } else {
      asio::co_spawn(ioc, std::move(task), done);
    }
    // Runs the call until it waits (filed), and no further: an expired deadline's handler
    // has not run yet.
    while (!outcome && state->registry.pending_count() == 0 && ioc.poll_one() > 0) {
    }
    ioc.restart();
  }

  // Runs until the call ends; fails (rather than hangs) when it does not within 5 s.
  void finish() {
    ioc.run_for(5s);
    ioc.restart();
    ASSERT_TRUE(outcome) << "the call did not end";
  }

  // The texts queued for the plug-in, skipping calls nobody waits for.
  std::vector<json> taken() {
    std::vector<OutgoingText> items;
    box->drain(items);
    std::vector<json> out;
    for (const auto& item : items) out.push_back(json::parse(*item.text));
    return out;
  }

  void answer_with(std::uint64_t id, const json& result) { answer(id, result); }
  void answer(std::uint64_t id, const json& result) {
    handle_plugin_message(*state, 1, box,
                          json{{"type", "result"}, {"id", id}, {"ok", true}, {"result", result}}.dump());
  }

  CallError::Kind error_kind() const { return std::get<CallError>(*outcome).kind; }
};

TEST_F(Correlation, ResultReachesItsCallerAndLeavesNoEntry) {
  start();
  const auto queued = taken();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(queued[0].at("verb"), "ping");
  answer(queued[0].at("id"), {{"pong", true}});
  finish();
  ASSERT_TRUE(std::holds_alternative<json>(*outcome));
  EXPECT_EQ(std::get<json>(*outcome).at("result").at("pong"), true);
  EXPECT_EQ(state->registry.pending_count(), 0u);
}

TEST_F(Correlation, TimeOutRemovesTheEntryAndALateResultIsDropped) {
  start(1s);
  const auto id = taken().at(0).at("id").get<std::uint64_t>();
  finish();
  EXPECT_EQ(error_kind(), CallError::TimedOut);
  EXPECT_EQ(std::get<CallError>(*outcome).seconds, 1u);
  EXPECT_FALSE(state->registry.is_pending(id));
  answer(id, {});  // nobody waits: dropped, nothing breaks
  EXPECT_EQ(state->registry.pending_count(), 0u);
}

TEST_F(Correlation, ResultThatLandsAsTheDeadlinePassesWins) {
  // A zero time-out has expired by the time the call waits; the result is stored before
  // the waiter runs again, so both wake-ups are due at once.
  start(0s);
  const auto id = taken().at(0).at("id").get<std::uint64_t>();
  answer(id, {{"pong", true}});
  finish();
  ASSERT_TRUE(std::holds_alternative<json>(*outcome));
}

TEST_F(Correlation, EndOfTheConnectionFailsTheCallAtOnce) {
  start(3600s);
  end_plugin_connection(*state, 1);
  finish();
  EXPECT_EQ(error_kind(), CallError::Disconnected);
  EXPECT_EQ(state->registry.pending_count(), 0u);
}

TEST_F(Correlation, ClosedOutboxMeansNotConnectedAndNothingFiled) {
  box->close();
  start();
  finish();
  EXPECT_EQ(error_kind(), CallError::NotConnected);
  EXPECT_EQ(state->registry.pending_count(), 0u);
}

TEST_F(Correlation, CancelledCallGivesUpAndLeavesNoEntry) {
  asio::cancellation_signal cancel;
  start(3600s, cancel.slot());
  ASSERT_EQ(state->registry.pending_count(), 1u);
  cancel.emit(asio::cancellation_type::terminal);
  finish();
  EXPECT_EQ(error_kind(), CallError::TimedOut);
  EXPECT_EQ(state->registry.pending_count(), 0u);
}

TEST_F(Correlation, CallsOfCallersThatGaveUpAreNeverSent) {
  // Premiere stalls (nothing is drained) while callers time out; when it recovers, only
  // the call still waited for is sent.
  start(0s);
  finish();
  EXPECT_EQ(error_kind(), CallError::TimedOut);
  outcome.reset();
  start(30s);
  const auto queued = taken();
  ASSERT_EQ(queued.size(), 1u);
  answer(queued[0].at("id"), {});
  finish();
}

TEST_F(Correlation, StaleCallsDoNotPileUpWhilePremiereStalls) {
  for (int i = 0; i < 500; ++i) {
    start(0s);
    finish();
    outcome.reset();
  }
  EXPECT_LT(box->size(), 200u);
  EXPECT_TRUE(taken().empty());
}

// razor goes to the CEP helper while it is connected. When the helper is still filed but
// can take no more calls (its connection is ending), the call goes to the UXP plug-in
// instead of failing as "cep_not_connected" while the UXP plug-in is right there.
TEST_F(Correlation, RazorFallsBackToUxpWhenTheHelperGoesBeforeTheCallIsFiled) {
  auto helper = std::make_shared<Outbox>(ioc.get_executor());
  handle_plugin_message(*state, 2, helper, R"({"type":"hello","runtime":"cep"})");
  helper->close();
  ASSERT_TRUE(is_connected(*state, PluginRuntime::Cep));
  std::optional<json> answer;
  const NotConnectedAnswer not_connected = [](StatePtr) -> asio::awaitable<json> {
    co_return json{{"success", false}, {"errorCode", "plugin_not_connected"}};
  };
  asio::co_spawn(ioc, forward_verb(state, "razor", {{"time", 5}}, not_connected),
                 [&](std::exception_ptr error, json result) {
                   if (error) std::rethrow_exception(error);
                   answer = std::move(result);
                 });
  ioc.poll();
  ioc.restart();
  const auto queued = taken();
  ASSERT_EQ(queued.size(), 1u) << "the call reached the UXP plug-in";
  EXPECT_EQ(queued[0].at("verb"), "razor");
  EXPECT_EQ(queued[0].at("args"), (json{{"time", 5}}));
  answer_with(queued[0].at("id"), {{"method", "uxp"}});
  ioc.run_for(5s);
  ASSERT_TRUE(answer);
  EXPECT_EQ(*answer, (json{{"success", true}, {"method", "uxp"}}));
}

TEST(Outbox, KeepsOrderAndRefusesOnceClosed) {
  asio::io_context ioc;
  auto box = std::make_shared<Outbox>(ioc.get_executor());
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(box->push(std::to_string(i)));
  std::vector<OutgoingText> items;
  box->drain(items);
  ASSERT_EQ(items.size(), 5u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(*items[static_cast<std::size_t>(i)].text, std::to_string(i));
  box->push("dropped");
  box->close();
  EXPECT_FALSE(box->push("late"));
  box->drain(items);
  EXPECT_TRUE(items.empty());
}

// Runs `box->ready()` as the writer does; `woke` counts its completions.
void wait_ready(asio::io_context& ioc, const std::shared_ptr<Outbox>& box, int& woke,
                std::optional<asio::cancellation_slot> cancel = std::nullopt) {
  auto done = [&woke](std::exception_ptr error) {
    if (error) std::rethrow_exception(error);
    ++woke;
  };
  if (cancel) {
    asio::co_spawn(ioc, box->ready(), asio::bind_cancellation_slot(*cancel, done));
  } else {
    asio::co_spawn(ioc, box->ready(), done);
  }
}

TEST(Outbox, WriterWakesForTextsAndForClosing) {
  asio::io_context ioc;
  auto box = std::make_shared<Outbox>(ioc.get_executor());
  int wakes = 0;
  wait_ready(ioc, box, wakes);
  ioc.poll();
  ioc.restart();
  EXPECT_EQ(wakes, 0);  // waits until something is queued
  box->push("x");
  EXPECT_EQ(wakes, 0) << "woken later, from the queue, not inside push";
  ioc.run_for(5s);      // returns as soon as the wake-up has run
  EXPECT_EQ(wakes, 1);
  ioc.restart();
  wait_ready(ioc, box, wakes);
  ioc.run_for(5s);      // texts are still queued: completes at once
  EXPECT_EQ(wakes, 2);
  ioc.restart();
  std::vector<OutgoingText> items;
  box->drain(items);
  wait_ready(ioc, box, wakes);
  ioc.poll();
  ioc.restart();
  EXPECT_EQ(wakes, 2);
  box->close();
  ioc.run_for(5s);
  EXPECT_EQ(wakes, 3);
}

// Calls that agents' requests queue in the same turn of the loop leave in one batch: a
// writer that finds texts already queued still lets the handlers queued before it run.
TEST(Outbox, WriterLetsQueuedHandlersAddToItsBatch) {
  asio::io_context ioc;
  auto box = std::make_shared<Outbox>(ioc.get_executor());
  box->push("a");
  std::size_t batch = 0;
  asio::co_spawn(
      ioc,
      [](std::shared_ptr<Outbox> box, std::size_t& batch) -> asio::awaitable<void> {
        co_await box->ready();
        std::vector<OutgoingText> items;
        box->drain(items);
        batch = items.size();
      }(box, batch),
      asio::detached);
  asio::post(ioc, [&] { box->push("b"); });  // queued after the writer's start
  ioc.run_for(5s);
  EXPECT_EQ(batch, 2u);
}

TEST(Outbox, CancellingTheWriterClosesTheBox) {
  asio::io_context ioc;
  auto box = std::make_shared<Outbox>(ioc.get_executor());
  asio::cancellation_signal cancel;
  int woke = 0;
  wait_ready(ioc, box, woke, cancel.slot());
  ioc.poll();
  ioc.restart();
  cancel.emit(asio::cancellation_type::terminal);
  ioc.run_for(5s);
  EXPECT_EQ(woke, 1);
  EXPECT_TRUE(box->closed());
}

TEST(CallSlotOutcome, FirstOutcomeWins) {
  asio::io_context ioc;
  {
    CallSlot slot(ioc.get_executor());
    EXPECT_TRUE(slot.deliver(json{{"n", 1}}));
    EXPECT_EQ(slot.give_up(), CallSlot::State::Answered);
    EXPECT_FALSE(slot.deliver(json{{"n", 2}}));
    EXPECT_EQ(slot.take_message().at("n"), 1);
  }
  {
    CallSlot slot(ioc.get_executor());
    EXPECT_EQ(slot.give_up(), CallSlot::State::GaveUp);
    EXPECT_FALSE(slot.deliver(json{{"n", 1}}));
    slot.close();
    EXPECT_EQ(slot.state(), CallSlot::State::GaveUp);
  }
}

// The waiter is woken by cancelling its timer, which only reaches a wait already made: an
// outcome that came before the waiter began must not leave it waiting for its deadline.
TEST(CallSlotOutcome, OutcomeBeforeTheWaitEndsItAtOnce) {
  asio::io_context ioc;
  auto slot = std::make_shared<CallSlot>(ioc.get_executor());
  slot->close();
  std::optional<CallSlot::State> seen;
  asio::co_spawn(ioc, slot->settled(std::chrono::steady_clock::now() + 1h),
                 [&](std::exception_ptr error, CallSlot::State state) {
                   if (error) std::rethrow_exception(error);
                   seen = state;
                 });
  ioc.run_for(5s);
  ASSERT_TRUE(seen) << "the waiter slept on after the slot was settled";
  EXPECT_EQ(*seen, CallSlot::State::Closed);
}

// Each settler wakes a waiting waiter with the state it set, and the waiter does not run
// inside the settler.
TEST(CallSlotOutcome, EachSettlerWakesTheWaiter) {
  for (const auto settle : {+[](CallSlot& s) { s.deliver(json{{"n", 1}}); },
                            +[](CallSlot& s) { s.close(); },
                            +[](CallSlot& s) { s.give_up(); }}) {
    asio::io_context ioc;
    auto slot = std::make_shared<CallSlot>(ioc.get_executor());
    std::optional<CallSlot::State> seen;
    asio::co_spawn(ioc, slot->settled(std::chrono::steady_clock::now() + 1h),
                   [&](std::exception_ptr error, CallSlot::State state) {
                     if (error) std::rethrow_exception(error);
                     seen = state;
                   });
    ioc.poll();
    ioc.restart();
    ASSERT_FALSE(seen);
    settle(*slot);
    EXPECT_FALSE(seen);
    ioc.run_for(5s);
    ASSERT_TRUE(seen);
    EXPECT_EQ(*seen, slot->state());
    EXPECT_NE(*seen, CallSlot::State::Waiting);
  }
}

}  // namespace
}  // namespace cutrelay
