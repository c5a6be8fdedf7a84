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
