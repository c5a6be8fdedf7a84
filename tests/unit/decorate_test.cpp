#include "catalog/decorate.hpp"

#include <gtest/gtest.h>

namespace cutrelay {
namespace {

const std::string kDefault =
    "Read `error`. premiere_status shows connection health; premiere_eval lets you probe the API "
    "directly.";

TEST(Decorate, SuccessGetsTipNextPitfallsAndVerb) {
  const json out = decorate("status", {{"success", true}});
  EXPECT_EQ(out.at("_hint"),
            "If pluginConnected is false follow the _hint. When connected, premiere_get_project / "
            "premiere_get_sequence show what's open.");
  EXPECT_EQ(out.at("_next"), json::array({"premiere_get_project", "premiere_get_sequence"}));
  EXPECT_EQ(out.at("pitfalls"),
            json::array({"status is cheap but pings Premiere; for a no-side-effect readiness check "
                         "use premiere_readiness."}));
  EXPECT_EQ(out.at("verb"), "premiere_status");
}

TEST(Decorate, VerbWithoutGuidanceGainsOnlyItsName) {
  EXPECT_EQ(decorate("move_item", {{"success", true}, {"moved", "a"}}),
            (json{{"success", true}, {"moved", "a"}, {"verb", "premiere_move_item"}}));
}

TEST(Decorate, FailureGetsErrorHintButNoNext) {
  const json out = decorate("get_sequence", {{"success", false}, {"errorCode", "no_sequence"}});
  EXPECT_EQ(out.at("_hint"),
            "No active sequence: premiere_list_sequences then premiere_set_active_sequence, or "
            "premiere_create_sequence.");
  EXPECT_FALSE(out.contains("_next"));
  EXPECT_EQ(out.at("pitfalls").size(), 1u);
}

TEST(Decorate, SharedHintsAndFallbacks) {
  EXPECT_EQ(hint_for_error("clip_not_found"), hint_for_error("bad_clip"));
  EXPECT_EQ(hint_for_error("component_not_found"), hint_for_error("param_not_found"));
  EXPECT_EQ(hint_for_error("transition_not_found"), hint_for_error("effect_not_found"));
  EXPECT_EQ(hint_for_error("CLIP_NOT_FOUND"), kDefault);
  EXPECT_EQ(hint_for_error("something_else"), kDefault);
  EXPECT_EQ(hint_for_error(json()), kDefault);
  EXPECT_EQ(hint_for_error(42), kDefault);
}

TEST(Decorate, OnlyLiteralTrueCountsAsSuccess) {
  for (const json& success : {json(), json(1), json("true"), json(false)}) {
    json answer = {{"errorCode", "no_project"}};
    if (!success.is_null()) answer["success"] = success;
    const json out = decorate("get_project", answer);
    EXPECT_EQ(out.at("_hint"),
              "No project open: premiere_open_project {path} or premiere_new_project {path}.");
    EXPECT_FALSE(out.contains("_next"));
  }
  EXPECT_EQ(decorate("get_project", json::object()).at("_hint"), kDefault);
}

TEST(Decorate, ExistingGuidanceIsKeptEvenWhenNullOrEmpty) {
  const json failed = decorate("ping", {{"success", false}, {"errorCode", "plugin_timeout"}, {"_hint", "mine"}});
  EXPECT_EQ(failed.at("_hint"), "mine");
  const json kept = decorate("status", {{"success", true},
                                        {"_hint", nullptr},
                                        {"_next", json::array()},
                                        {"pitfalls", json::array()}});
  EXPECT_TRUE(kept.at("_hint").is_null());
  EXPECT_EQ(kept.at("_next"), json::array());
  EXPECT_EQ(kept.at("pitfalls"), json::array());
}

TEST(Decorate, VerbMemberIsAlwaysTheCatalogName) {
  EXPECT_EQ(decorate("ping", {{"success", true}, {"verb", "other"}}).at("verb"), "premiere_ping");
}

TEST(Decorate, UnknownVerbsAndNonObjectsPassUnchanged) {
  const json answer = {{"success", false}, {"errorCode", "unknown_verb"}};
  EXPECT_EQ(decorate("no_such_verb", answer), answer);
  EXPECT_EQ(decorate("", answer), answer);
  EXPECT_EQ(decorate("ping", json::array({1})), json::array({1}));
}

}  // namespace
}  // namespace cutrelay
