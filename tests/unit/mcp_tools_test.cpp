#include "catalog/mcp_tools.hpp"

#include <set>

#include <gtest/gtest.h>

namespace cutrelay {
namespace {

json props(std::string_view summary) { return input_schema_from_summary(summary).at("properties"); }
json required(std::string_view summary) {
  return input_schema_from_summary(summary).value("required", json::array());
}
std::string type_of(std::string_view summary, const char* member) {
  return props(summary).at(member).value("type", "");
}

TEST(SummarySchema, OptionalityFromQuestionMarksAndAlternatives) {
  EXPECT_EQ(required("{item, name?, time?(default playhead)}"), json({"item"}));
  EXPECT_EQ(required("{}"), json::array());
  EXPECT_EQ(props("{}"), json::object());
  // Of a pair of alternatives neither alone is required.
  EXPECT_EQ(required("{clip|clips, to?|by?, sequence?}"), json::array());
  EXPECT_EQ(required("{clip, component, param, time?|start&end?|all?}"),
            json({"clip", "component", "param"}));
  const json p = props("{clip, component, param, time?|start&end?|all?}");
  for (const char* name : {"time", "start", "end", "all"}) EXPECT_TRUE(p.contains(name)) << name;
  EXPECT_EQ(input_schema_from_summary("{path}").at("additionalProperties"), true);
  EXPECT_EQ(input_schema_from_summary("{path}").at("type"), "object");
}

TEST(SummarySchema, TypesOnlyWhereTheExampleIsPlain) {
  EXPECT_EQ(type_of("{track?:\"V1\"}", "track"), "string");
  EXPECT_EQ(type_of("{width?:960}", "width"), "number");
  EXPECT_EQ(type_of("{db?:-6}", "db"), "number");
  EXPECT_EQ(type_of("{speed:0.5|2.0}", "speed"), "number");
  EXPECT_EQ(type_of("{xmp?:bool}", "xmp"), "boolean");
  EXPECT_EQ(type_of("{details?:true}", "details"), "boolean");
  EXPECT_EQ(type_of("{video?:n}", "video"), "integer");
  EXPECT_EQ(type_of("{kind?:video|audio|transition}", "kind"), "string");
  EXPECT_EQ(type_of("{audioType?:stereo|mono|5.1}", "audioType"), "string");
  EXPECT_EQ(type_of("{output:abs path, preset:.epr path}", "preset"), "string");
  EXPECT_EQ(type_of("{paths:[abs desktop paths]}", "paths"), "array");
  EXPECT_EQ(props("{tracks?:[\"V1\",\"A1\"]}").at("tracks").at("items"), json({{"type", "string"}}));
  EXPECT_EQ(props("{keyframes:[{time, value}]}").at("keyframes").at("items"), json({{"type", "object"}}));
  const json color = props("{item, colorIndex:0-15}").at("colorIndex");
  EXPECT_EQ(color.at("type"), "integer");
  EXPECT_EQ(color.at("minimum"), 0);
  EXPECT_EQ(color.at("maximum"), 15);
  // Times, references and mixed kinds stay open.
  EXPECT_EQ(type_of("{time?:seconds|timecode (default playhead)}", "time"), "");
  EXPECT_EQ(type_of("{clip, component: index|name|matchName}", "component"), "");
  EXPECT_EQ(type_of("{level?:raw}", "level"), "");
  EXPECT_EQ(type_of("{item}", "item"), "");
  // A default written with '=' is a default; one after ':' may be only an example.
  EXPECT_EQ(props("{cep?:bool=true}").at("cep").at("default"), true);
  EXPECT_FALSE(props("{width?:960}").at("width").contains("default"));
}

TEST(SummarySchema, NotesAndValuesDoNotBecomeMembers) {
  // A parenthesised note holding commas and brackets is not split into members.
  EXPECT_EQ(props("{clip|clips, component, param, value (number|bool|[x,y]|{red,green,blue,alpha}), time?}")
                .size(),
            6u);
  EXPECT_EQ(required("{clip|clips, component, param, value (number|bool|[x,y]|{red,green,blue,alpha}), time?}"),
            json({"component", "param", "value"}));
  // After a ';' comes prose about the code's scope, not arguments.
  EXPECT_EQ(props("{code: async-function body; in scope: ppro, h (helpers: findClip, toTick, tx, …), args, require}")
                .size(),
            1u);
  EXPECT_EQ(type_of("{code: function body (ES3), args?}", "code"), "string");
  // A quoted example holding ':' or '|' stays one value; "|matchName?" after it is a member.
  const json t = props("{clip|clips, name?:\"Cross Dissolve\"|matchName?, duration?:1}");
  EXPECT_EQ(t.at("name").at("type"), "string");
  EXPECT_TRUE(t.contains("matchName"));
  EXPECT_FALSE(t.at("matchName").contains("type"));
  const json v = props("{clip|clips:\"A1:0\", db?:-6}");
  EXPECT_EQ(v.at("clip").at("type"), "string");
  EXPECT_FALSE(v.at("clips").contains("type"));  // one reference or a list of them
  EXPECT_EQ(props("{item, time?, track?|videoTrack?:\"V1\"}").at("track").at("type"), "string");
  EXPECT_EQ(props("{path?|library&element, time?}").size(), 4u);
}

TEST(SummarySchema, EveryCatalogSummaryYieldsAnObjectSchemaWithDescribedMembers) {
  for (const VerbRecord& verb : verb_table()) {
    const json schema = input_schema_from_summary(verb.args);
    ASSERT_EQ(schema.at("type"), "object") << verb.name;
    for (const auto& [name, member] : schema.at("properties").items()) {
      EXPECT_FALSE(name.empty()) << verb.name;
      EXPECT_TRUE(member.at("description").is_string()) << verb.name << " " << name;
      EXPECT_NE(std::string(verb.args).find(name), std::string::npos) << verb.name << " " << name;
    }
    for (const json& name : schema.value("required", json::array())) {
      EXPECT_TRUE(schema.at("properties").contains(name.get<std::string>())) << verb.name;
    }
  }
}

TEST(McpTools, OneToolPerVerbInCatalogOrder) {
  const json& tools = mcp_tools();
  ASSERT_EQ(tools.size(), 91u);
  EXPECT_EQ(tools.front().at("name"), "premiere_describe");
  EXPECT_EQ(tools.back().at("name"), "premiere_export_frame_qe");
  std::set<std::string> names;
  for (const json& tool : tools) names.insert(tool.at("name").get<std::string>());
  EXPECT_EQ(names.size(), 91u);
}

TEST(McpTools, DescriptionCarriesSummaryArgumentsAndPitfalls) {
  const json tool = mcp_tool(*find_verb("remove_clips"));
  const std::string text = tool.at("description");
  EXPECT_TRUE(text.starts_with("Delete clips, optionally ripple-deleting (closing the gap)."));
  EXPECT_NE(text.find("Arguments: {clip|clips, ripple?:false}"), std::string::npos);
  EXPECT_NE(text.find("- Linked audio isn't removed unless you include its A-track ref too."),
            std::string::npos);
  EXPECT_EQ(tool.at("title"), "Remove clips");
}

TEST(McpTools, ForwardedVerbsTakeATimeoutBridgeVerbsOnlyTheirOwn) {
  const json eval = mcp_tool(*find_verb("eval")).at("inputSchema").at("properties");
  EXPECT_EQ(eval.at("timeoutSec").at("maximum"), 3600);
  EXPECT_NE(eval.at("timeoutSec").at("description").get<std::string>().find("600"), std::string::npos);
  EXPECT_FALSE(mcp_tool(*find_verb("describe")).at("inputSchema").at("properties").contains("timeoutSec"));
  // wait_for_plugin reads its own timeoutSec, as its summary says.
  EXPECT_EQ(mcp_tool(*find_verb("wait_for_plugin")).at("inputSchema").at("properties").at("timeoutSec").at("description"),
            "timeoutSec?:90");
}

TEST(McpTools, AnnotationsSayWhatReadsAndWhatDestroys) {
  auto annotations = [](std::string_view verb) { return mcp_tool(*find_verb(verb)).at("annotations"); };
  for (const char* reader : {"get_sequence", "list_markers", "readiness", "preview_frame", "describe"}) {
    EXPECT_EQ(annotations(reader).at("readOnlyHint"), true) << reader;
    EXPECT_FALSE(annotations(reader).contains("destructiveHint")) << reader;
  }
  for (const char* destroyer : {"delete_item", "remove_clips", "close_project", "quit", "eval"}) {
    EXPECT_EQ(annotations(destroyer).at("readOnlyHint"), false) << destroyer;
    EXPECT_EQ(annotations(destroyer).at("destructiveHint"), true) << destroyer;
  }
  for (const char* editor : {"insert_clip", "add_marker", "import_media", "razor"}) {
    EXPECT_EQ(annotations(editor).at("destructiveHint"), false) << editor;
  }
  for (const json& tool : mcp_tools()) EXPECT_EQ(tool.at("annotations").at("openWorldHint"), false);
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
