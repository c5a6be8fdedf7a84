#include "hub/forwarding.hpp"

#include <gtest/gtest.h>

namespace cutrelay {
namespace {

TEST(ResultAnswer, OkResultMembersMergeButSuccessStaysTrue) {
  EXPECT_EQ(answer_from_result({{"ok", true}, {"result", {{"success", false}, {"path", "/x"}}}}),
            (json{{"success", true}, {"path", "/x"}}));
  EXPECT_EQ(answer_from_result({{"ok", true}, {"result", 42}}),
            (json{{"success", true}, {"result", 42}}));
  EXPECT_EQ(answer_from_result({{"ok", true}, {"result", json::array({1})}}),
            (json{{"success", true}, {"result", json::array({1})}}));
  EXPECT_EQ(answer_from_result({{"ok", true}, {"result", nullptr}}), (json{{"success", true}}));
  EXPECT_EQ(answer_from_result({{"ok", true}}), (json{{"success", true}}));
}

TEST(ResultAnswer, WarningsCarriedWhateverTheirValue) {
  EXPECT_EQ(answer_from_result({{"ok", true}, {"result", json::object()}, {"warnings", {"w"}}}),
            (json{{"success", true}, {"warnings", {"w"}}}));
  EXPECT_EQ(answer_from_result({{"ok", true}, {"warnings", nullptr}}),
            (json{{"success", true}, {"warnings", nullptr}}));
}

TEST(ResultAnswer, FailuresKeepOnlyErrorCodeAndStack) {
  EXPECT_EQ(answer_from_result({{"ok", false}}),
            (json{{"success", false}, {"error", "plugin error"}, {"errorCode", "premiere_error"},
                  {"stack", nullptr}}));
  EXPECT_EQ(answer_from_result({{"ok", false}, {"error", "boom"}, {"errorCode", "bad_time"},
                                {"stack", "at x"}, {"result", {{"a", 1}}}, {"warnings", {"w"}}}),
            (json{{"success", false}, {"error", "boom"}, {"errorCode", "bad_time"}, {"stack", "at x"}}));
  // ok must be the boolean true; error texts must be strings.
  EXPECT_EQ(answer_from_result({{"ok", "true"}, {"error", 5}, {"errorCode", false}}).at("error"),
            "plugin error");
  EXPECT_EQ(answer_from_result({{"ok", 1}}).at("success"), false);
}

TEST(ResultAnswer, AnEditNotAppliedCarriesWhatWasMeantAndWhatIsThere) {
  const json expected = {{"V1:0", {{"end", 12.48}}}};
  const json found = {{"V1:0", {{"end", 14}}}};
  const json answer = answer_from_result({{"ok", false},
                                          {"errorCode", "edit_not_applied"},
                                          {"error", "V1:0 should end at 12.48 s but ends at 14.00 s."},
                                          {"expected", expected},
                                          {"found", found}});
  EXPECT_EQ(answer.at("expected"), expected);
  EXPECT_EQ(answer.at("found"), found);
  EXPECT_EQ(answer.at("errorCode"), "edit_not_applied");
}

TEST(Timeouts, RequestValueWithinOneToAnHour) {
  EXPECT_EQ(forward_timeout(json::object(), 30), 30u);
  EXPECT_EQ(forward_timeout({{"timeoutSec", 0}}, 30), 1u);
  EXPECT_EQ(forward_timeout({{"timeoutSec", 5000}}, 30), 3600u);
  EXPECT_EQ(forward_timeout({{"timeoutSec", 7}}, 30), 7u);
  for (const json& ignored : {json(2.5), json(-1), json("30"), json(nullptr)}) {
    EXPECT_EQ(forward_timeout({{"timeoutSec", ignored}}, 30), 30u) << ignored;
  }
  EXPECT_EQ(forward_timeout(json::array(), 600), 600u);
}

TEST(DefaultPaths, FrameExportsGetThePreviewsFolder) {
  const std::filesystem::path previews = "/data/previews";
  json args = {{"time", 3}};
  add_default_paths("export_frame", args, previews);
  EXPECT_EQ(args.at("dir"), "/data/previews");
  json frames = json::object();
  add_default_paths("export_frames", frames, previews);
  EXPECT_EQ(frames.at("dir"), "/data/previews");
  json explicit_null = {{"dir", nullptr}};
  add_default_paths("export_frame", explicit_null, previews);
  EXPECT_TRUE(explicit_null.at("dir").is_null());
  json other = json::object();
  add_default_paths("get_sequence", other, previews);
  EXPECT_TRUE(other.empty());
}

TEST(DefaultPaths, QeFrameNamedAfterTheTimeInMilliseconds) {
  const std::filesystem::path previews = "/p";
  const auto path_for = [&](json args) {
    add_default_paths("export_frame_qe", args, previews);
    return args.at("path").get<std::string>();
  };
  EXPECT_EQ(path_for({{"time", 1.2345}}), "/p/qe_1234ms.png");
  EXPECT_EQ(path_for(json::object()), "/p/qe_0ms.png");
  EXPECT_EQ(path_for({{"time", "1.5"}}), "/p/qe_0ms.png");
  EXPECT_EQ(path_for({{"time", 2}}), "/p/qe_2000ms.png");
  EXPECT_EQ(path_for({{"time", -0.0015}}), "/p/qe_-1ms.png");
  EXPECT_EQ(path_for({{"time", 1e300}}), "/p/qe_9223372036854775807ms.png");
  EXPECT_EQ(path_for({{"path", "/mine.png"}}), "/mine.png");
}

TEST(FixedAnswers, Texts) {
  EXPECT_EQ(unknown_verb_answer("").at("error"), "unknown verb premiere_");
  const json timeout = timed_out_answer(7);
  EXPECT_EQ(timeout.at("error"),
            "Premiere didn't answer within 7s. A modal dialog in Premiere blocks scripting, or "
            "the operation is genuinely long.");
  EXPECT_EQ(timeout.at("stillRunning"), true);
  EXPECT_EQ(timeout.at("statusVerb"), "premiere_status");
  EXPECT_EQ(disconnected_answer().at("errorCode"), "plugin_disconnected");
  EXPECT_NE(cep_not_connected_answer(true).at("_hint").get<std::string>().find("premiere_install_plugin"),
            std::string::npos);
  EXPECT_EQ(cep_not_connected_answer(false).at("_hint"),
            "Neither in-app plugin is connected. premiere_readiness says what's missing.");
  EXPECT_EQ(cep_not_connected_answer(false).at("_next"),
            json::array({"premiere_install_plugin", "premiere_quit", "premiere_launch"}));
}

TEST(ExportProgress, ThePlugInsExportEventsBecomeReports) {
  double percent = 0;
  const auto step = [&](json event) { return export_progress_report(event, percent); };
  auto r = step({{"kind", "export_progress"}, {"data", {{"outputFile", "/o.mp4"}, {"progress", 0.25}}}});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->progress, 25);
  EXPECT_EQ(r->total, 100);
  EXPECT_EQ(r->message, "Rendering /o.mp4: 25%");
  // Premiere's own member name, and a percentage rather than a fraction.
  EXPECT_EQ(step({{"kind", "export_progress"}, {"data", {{"progressAmount", 0.5}}}})->progress, 50);
  EXPECT_EQ(step({{"kind", "export_progress"}, {"data", {{"progressAmount", 75}}}})->progress, 75);
  // Progress never goes back; a later event without a figure keeps it.
  EXPECT_EQ(step({{"kind", "export_progress"}, {"data", {{"progress", 0.1}}}})->progress, 75);
  EXPECT_EQ(step({{"kind", "export_queued"}, {"data", {{"outputFile", "/o.mp4"}}}})->message, "Queued /o.mp4 for rendering");
  EXPECT_EQ(step({{"kind", "export_error"}, {"data", {{"error", "disk full"}}}})->message, "Export failed: disk full");
  const auto done = step({{"kind", "export_complete"}, {"data", {{"outputFile", "/o.mp4"}}}});
  EXPECT_EQ(done->progress, 100);
  EXPECT_EQ(done->message, "Export complete: /o.mp4");
  // Other events, and malformed ones, report nothing.
  for (const json& other : {json{{"kind", "project_dirty"}}, json{{"kind", "export_progress"}, {"data", {{"progress", "x"}}}},
                            json{{"kind", 5}}, json("export_progress"), json{{"kind", "export_progress"}, {"data", 3}}}) {
    EXPECT_FALSE(step(other)) << other;
  }
}

}  // namespace
}  // namespace cutrelay
