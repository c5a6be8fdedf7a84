#include "catalog/catalog.hpp"

#include <gtest/gtest.h>

#include <set>

namespace cutrelay {
namespace {

TEST(Catalog, HasTheVerbsInOrder) {
  const auto table = verb_table();
  ASSERT_EQ(table.size(), 91u);
  EXPECT_EQ(table.front().name, "describe");
  EXPECT_EQ(table[13].name, "list_export_presets");
  EXPECT_EQ(table[14].name, "ping");
  EXPECT_EQ(table.back().name, "export_frame_qe");
  std::set<std::string_view> names;
  for (const auto& verb : table) EXPECT_TRUE(names.insert(verb.name).second) << verb.name;
}

TEST(Catalog, FourteenBridgeVerbsComeFirst) {
  const auto table = verb_table();
  for (std::size_t i = 0; i < table.size(); ++i) {
    EXPECT_EQ(table[i].kind == Runtime::Bridge, i < 14) << table[i].name;
  }
}

TEST(Catalog, RelatedVerbsAreCataloguedFullNames) {
  // A related name that does not exist would send agents to a dead end.
  for (const auto& verb : verb_table()) {
    for (std::string_view related : verb.related) {
      ASSERT_TRUE(related.starts_with(kVerbPrefix)) << verb.name;
      EXPECT_NE(find_verb(related.substr(kVerbPrefix.size())), nullptr)
          << verb.name << " -> " << related;
    }
  }
}

TEST(Catalog, FindVerbIsExactAndCaseSensitive) {
  ASSERT_NE(find_verb("status"), nullptr);
  EXPECT_EQ(find_verb("status"), &verb_table()[1]);
  EXPECT_EQ(find_verb("Status"), nullptr);
  EXPECT_EQ(find_verb("premiere_status"), nullptr);
  EXPECT_EQ(find_verb(""), nullptr);
  EXPECT_EQ(find_verb("status "), nullptr);
}

TEST(Catalog, RuntimeLabels) {
  EXPECT_EQ(runtime_label(Runtime::Bridge), "bridge");
  EXPECT_EQ(runtime_label(Runtime::UxpPlugin), "uxp-plugin");
  EXPECT_EQ(runtime_label(Runtime::CepHelper), "cep-helper");
  EXPECT_EQ(runtime_label(Runtime::CepOrUxp), "cep-helper|uxp-plugin");
  EXPECT_EQ(find_verb("razor")->kind, Runtime::CepOrUxp);
}

TEST(Catalog, RecordsCarryWhatTheBridgeDoesWithEachVerb) {
  EXPECT_EQ(find_verb("export_frame")->default_path, DefaultPath::PreviewsDir);
  EXPECT_EQ(find_verb("export_frames")->default_path, DefaultPath::PreviewsDir);
  EXPECT_EQ(find_verb("export_frame_qe")->default_path, DefaultPath::QeFramePath);
  EXPECT_EQ(find_verb("preview_frame")->default_path, DefaultPath::None);
  EXPECT_EQ(find_verb("get_sequence")->effect, VerbEffect::Reads);
  EXPECT_EQ(find_verb("insert_clip")->effect, VerbEffect::Edits);
  EXPECT_EQ(find_verb("remove_clips")->effect, VerbEffect::Destroys);
  for (const char* verb : {"export_sequence", "contact_sheet", "wait_for_plugin", "launch"}) {
    EXPECT_TRUE(find_verb(verb)->reports_progress) << verb;
  }
  EXPECT_FALSE(find_verb("ping")->reports_progress);
  for (const auto& verb : verb_table()) {
    const json& schema = verb.input_schema;
    EXPECT_EQ(schema.at("type"), "object") << verb.name;
    EXPECT_EQ(schema.at("additionalProperties"), false) << verb.name;
    // Forwarded verbs take timeoutSec, defaulting to the verb's own time-out.
    if (verb.kind != Runtime::Bridge) {
      EXPECT_EQ(schema.at("properties").at("timeoutSec").at("default"), verb.timeout) << verb.name;
    }
    for (const json& name : schema.value("required", json::array())) {
      EXPECT_TRUE(schema.at("properties").contains(name.get<std::string>())) << verb.name;
    }
    // No reference is left: each schema stands on its own.
    EXPECT_EQ(schema.dump().find("$ref"), std::string::npos) << verb.name;
  }
  EXPECT_EQ(find_verb("insert_clip")->input_schema.at("required"), json({"item"}));
}

TEST(Catalog, AliasesRenameToTheArgumentTheVerbReads) {
  const VerbRecord& export_sequence = *find_verb("export_sequence");
  json args = {{"presetPath", "/p/h264.epr"}, {"output", "/o.mp4"}};
  apply_aliases(export_sequence, args);
  EXPECT_EQ(args, (json{{"preset", "/p/h264.epr"}, {"output", "/o.mp4"}}));
  json both = {{"presetPath", "/a.epr"}, {"preset", "/b.epr"}};
  apply_aliases(export_sequence, both);
  EXPECT_EQ(both, (json{{"preset", "/b.epr"}}));  // the verb's own name wins
  json not_object = json::array({1});
  apply_aliases(export_sequence, not_object);
  EXPECT_EQ(not_object, json::array({1}));
}

TEST(Describe, CatalogAndDataAreTheSameWholeTable) {
  const json& answer = describe_answer();
  EXPECT_EQ(answer.at("success"), true);
  ASSERT_EQ(answer.at("catalog"), answer.at("data"));
  const json& catalog = answer.at("catalog");
  EXPECT_EQ(catalog.at("bridge"), "premiere");
  EXPECT_EQ(catalog.at("version"), "0.1.0");
  EXPECT_EQ(catalog.at("verbCount"), 91);
  ASSERT_EQ(catalog.at("verbs").size(), 91u);
  EXPECT_EQ(catalog.at("verbs").front().at("name"), "premiere_describe");
  EXPECT_EQ(catalog.at("verbs").back().at("name"), "premiere_export_frame_qe");
  EXPECT_EQ(catalog.at("conventions").size(), 5u);
  EXPECT_EQ(catalog.at("conventions").at("times"),
            "seconds (12.5) | timecode \"00:00:12:15\" | \"300f\" | {ticks}");
}

TEST(Describe, EveryEntryHasAllTenMembers) {
  for (const json& entry : describe_answer().at("catalog").at("verbs")) {
    EXPECT_EQ(entry.size(), 10u) << entry.at("name");
    EXPECT_EQ(entry.at("statusVerb"), "premiere_status");
    EXPECT_TRUE(entry.at("hint").is_string());
    EXPECT_TRUE(entry.at("pitfalls").is_array());
    EXPECT_TRUE(entry.at("related").is_array());
  }
}

json entry(std::string_view name) {
  for (const json& e : describe_answer().at("catalog").at("verbs")) {
    if (e.at("name") == "premiere_" + std::string(name)) return e;
  }
  return nullptr;
}

TEST(Describe, LongRunningMeansMoreThanSixtySeconds) {
  EXPECT_EQ(entry("preview_frame").at("timeoutSeconds"), 60);
  EXPECT_EQ(entry("preview_frame").at("longRunning"), false);
  EXPECT_EQ(entry("quit").at("timeoutSeconds"), 90);
  EXPECT_EQ(entry("quit").at("longRunning"), true);
  EXPECT_EQ(entry("eval").at("runsIn"), "uxp-plugin");
  EXPECT_EQ(entry("eval").at("timeoutSeconds"), 600);
  EXPECT_EQ(entry("razor").at("runsIn"), "cep-helper|uxp-plugin");
  EXPECT_EQ(entry("set_speed").at("runsIn"), "cep-helper");
}

TEST(Describe, EmptyTextsBecomeEmptyValues) {
  const json e = entry("move_item");
  EXPECT_EQ(e.at("hint"), "");
  EXPECT_EQ(e.at("related"), json::array());
  EXPECT_EQ(e.at("pitfalls"), json::array());
  EXPECT_EQ(entry("preview_frame").at("pitfalls").size(), 2u);
  EXPECT_EQ(entry("list_export_presets").at("input"), "{search?:\"h.264\"}");
  EXPECT_EQ(entry("remove_clips").at("pitfalls")[1],
            "Linked partners (the audio of a video clip, the video of an audio clip) are removed "
            "too; pass linked:false to remove only the clips you list.");
}

TEST(Describe, SerialisedOnceAndDecorated) {
  const std::string& text = describe_answer_text();
  EXPECT_EQ(&text, &describe_answer_text());
  const json parsed = json::parse(text);
  EXPECT_EQ(parsed.at("verb"), "premiere_describe");
  EXPECT_EQ(parsed.at("_next"), json::array({"premiere_status"}));
  EXPECT_EQ(parsed.at("_hint"), "Pick verbs from here; premiere_eval covers anything not listed.");
  EXPECT_FALSE(parsed.contains("pitfalls"));
}

}  // namespace
}  // namespace cutrelay
