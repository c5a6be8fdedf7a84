#include "catalog/mcp_tools.hpp"

#include <set>

#include <gtest/gtest.h>

#include "catalog/schema_check.hpp"

namespace cutrelay {
namespace {

// ---- the checker, on schemas of the catalog's own shapes -------------------------------

const json kTime = {{"oneOf",
                     {{{"type", "number"}, {"description", "seconds"}},
                      {{"type", "string"}, {"description", "timecode"}},
                      {{"type", "object"}}}}};
const json kClip = {{"oneOf", {{{"type", "string"}, {"pattern", "^\\s*[VvAa][0-9]+:[0-9]+\\s*$"}}, {{"type", "object"}}}}};

json tool_schema() {
  return {{"type", "object"},
          {"additionalProperties", false},
          {"required", {"clip"}},
          {"properties",
           {{"clip", kClip},
            {"clips", {{"type", "array"}, {"items", kClip}}},
            {"time", kTime},
            {"ripple", {{"type", "boolean"}}},
            {"type", {{"type", "string"}, {"enum", {"in", "out"}}}},
            {"count", {{"type", "integer"}, {"minimum", 0}, {"maximum", 64}}},
            {"speed", {{"type", "number"}, {"exclusiveMinimum", 0}}},
            {"keyframes",
             {{"type", "array"},
              {"items", {{"type", "object"}, {"required", {"time"}}, {"properties", {{"time", kTime}}}}}}}}}};
}

std::string problem(const json& args) { return schema_violation(tool_schema(), args).value_or(""); }

TEST(SchemaCheck, GoodArgumentsPass) {
  for (const json& args : {json{{"clip", "V1:0"}},
                           json{{"clip", " a12:3 "}, {"time", "00:00:01:00"}, {"ripple", true}},
                           json{{"clip", {{"track", "V1"}, {"index", 2}}}, {"time", {{"ticks", "254016000000"}}}},
                           json{{"clip", "V1:0"}, {"clips", {"V1:0", "A1:1"}}, {"type", "out"}, {"count", 0}},
                           json{{"clip", "V1:0"}, {"speed", 0.5}, {"keyframes", {{{"time", 1}}, {{"time", 2.5}}}}}}) {
    EXPECT_EQ(schema_violation(tool_schema(), args), std::nullopt) << args;
  }
}

TEST(SchemaCheck, EachFaultNamesTheMemberAndWhatItShouldBe) {
  EXPECT_EQ(problem(json::object()), "`clip` is required.");
  EXPECT_EQ(problem({{"clip", "V1:0"}, {"clps", 1}}),
            "`clps` is not an argument here; it takes clip, clips, count, keyframes, ripple, speed, time, type.");
  EXPECT_EQ(problem({{"clip", "V1:0"}, {"ripple", "yes"}}), "`ripple` must be true or false; got \"yes\".");
  EXPECT_EQ(problem({{"clip", "V1:0"}, {"type", "fade"}}), "`type` must be one of \"in\" or \"out\"; got \"fade\".");
  EXPECT_EQ(problem({{"clip", "V1:0"}, {"count", 65}}),
            "`count` must be a whole number from 0 to 64; got 65.");
  EXPECT_EQ(problem({{"clip", "V1:0"}, {"count", 2.0}}).substr(0, 31), "`count` must be a whole number ");
  EXPECT_EQ(problem({{"clip", "V1:0"}, {"speed", 0}}), "`speed` must be a number above 0; got 0.");
  // Several forms: a value of no form's type lists them all ...
  EXPECT_EQ(problem({{"clip", "V1:0"}, {"time", true}}),
            "`time` must be a number (seconds), a text (timecode) or an object; got true.");
  // ... one of a form's type gets that form's complaint.
  EXPECT_EQ(problem({{"clip", "V1 0"}}).substr(0, 34), "`clip` must look like a text; got ");
  EXPECT_EQ(problem({{"clip", "V1:0"}, {"clips", {"V1:0", 7}}}),
            "`clips[1]` must be a text or an object; got 7.");
  EXPECT_EQ(problem({{"clip", "V1:0"}, {"keyframes", {{{"time", 1}}, {{"value", 1}}}}}), "`keyframes[1].time` is required.");
  // Long texts never reach the pattern engine.
  EXPECT_NE(problem({{"clip", std::string(100000, ' ') + "V1:0"}}), "");
  // A value shown in a message is cut short.
  EXPECT_LT(problem({{"clip", "V1:0"}, {"ripple", std::string(5000, 'x')}}).size(), 120u);
}

TEST(SchemaCheck, OnlyTheKnownKeywordsAreAccepted) {
  EXPECT_EQ(unsupported_schema_keyword(tool_schema()), "");
  EXPECT_EQ(unsupported_schema_keyword({{"type", "string"}, {"format", "uri"}}), "format");
  EXPECT_EQ(unsupported_schema_keyword({{"type", "array"}, {"items", {{"anyOf", json::array()}}}}), "anyOf");
  EXPECT_EQ(unsupported_schema_keyword({{"properties", {{"a", {{"oneOf", {{{"minLength", 1}}}}}}}}}), "minLength");
  EXPECT_EQ(unsupported_schema_keyword({{"additionalProperties", true}}), "additionalProperties other than false");
}

// ---- the tools --------------------------------------------------------------------------

TEST(McpTools, OneToolPerVerbInCatalogOrder) {
  const json& tools = mcp_tools();
  ASSERT_EQ(tools.size(), 91u);
  EXPECT_EQ(tools.front().at("name"), "premiere_describe");
  EXPECT_EQ(tools.back().at("name"), "premiere_export_frame_qe");
  std::set<std::string> names;
  for (const json& tool : tools) names.insert(tool.at("name").get<std::string>());
  EXPECT_EQ(names.size(), 91u);
}

TEST(McpTools, DescriptionCarriesSummaryAndPitfallsNotConventions) {
  const std::string text = mcp_tool(*find_verb("remove_clips")).at("description");
  EXPECT_TRUE(text.starts_with("Delete clips, optionally ripple-deleting (closing the gap).\n\nPitfalls:\n- "));
  EXPECT_EQ(text.find("Arguments:"), std::string::npos);  // the schema describes them
  // The clip-reference note is the shared convention the instructions carry.
  EXPECT_EQ(text.find("Clip refs are"), std::string::npos);
  EXPECT_EQ(mcp_tool(*find_verb("move_item")).at("description"), "Move a project item into a bin.");
}

TEST(McpTools, ArgumentsAreCheckedAgainstTheVerbsSchema) {
  const VerbRecord& trim = *find_verb("trim_clip");
  EXPECT_EQ(tool_argument_problem(trim, {{"clip", "V1:0"}, {"trimEnd", 1.5}, {"timeoutSec", 30}}), std::nullopt);
  EXPECT_EQ(tool_argument_problem(trim, {{"clip", "V1:0"}, {"trimend", 1.5}}).value_or("").substr(0, 57),
            "Invalid arguments for premiere_trim_clip: `trimend` is no");
  EXPECT_EQ(tool_argument_problem(*find_verb("describe"), {{"x", 1}}),
            "Invalid arguments for premiere_describe: `x` is not an argument here: it takes none.");
  // Verbs accept what their plug-in reads even where the summary does not name it.
  EXPECT_EQ(tool_argument_problem(*find_verb("remove_clips"), {{"clips", {"A3:0"}}, {"linked", false}}), std::nullopt);
  EXPECT_EQ(tool_argument_problem(*find_verb("export_sequence"), {{"output", "/o.mp4"}, {"preset", "/p.epr"}}), std::nullopt);
}

TEST(McpTools, AnnotationsSayWhatReadsAndWhatDestroys) {
  auto annotations = [](std::string_view verb) { return mcp_tool(*find_verb(verb)).at("annotations"); };
  for (const char* reader : {"get_sequence", "list_markers", "readiness", "preview_frame", "describe"}) {
    EXPECT_EQ(annotations(reader), (json{{"readOnlyHint", true}})) << reader;
  }
  for (const char* destroyer : {"delete_item", "remove_clips", "close_project", "quit", "eval"}) {
    EXPECT_EQ(annotations(destroyer), (json{{"destructiveHint", true}})) << destroyer;
  }
  for (const char* editor : {"insert_clip", "add_marker", "import_media", "razor"}) {
    EXPECT_EQ(annotations(editor), (json{{"destructiveHint", false}})) << editor;
  }
}

TEST(McpTools, InstructionsHoldTheConventionsAndWhereToStart) {
  const std::string& text = mcp_instructions();
  const json& conventions = describe_answer().at("catalog").at("conventions");
  for (const auto& [key, value] : conventions.items()) {
    EXPECT_NE(text.find(value.get<std::string>()), std::string::npos) << key;
  }
  EXPECT_NE(text.find("premiere_readiness"), std::string::npos);
}

}  // namespace
}  // namespace cutrelay
