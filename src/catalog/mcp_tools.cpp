#include "catalog/mcp_tools.hpp"

#include "catalog/schema_check.hpp"

namespace cutrelay {

namespace {

bool is_convention(const std::string& note) {
  const json& conventions = describe_answer()["catalog"]["conventions"];
  for (const auto& [key, text] : conventions.items()) {
    if (text == note) return true;
  }
  return false;
}

}  // namespace

json mcp_tool(const VerbRecord& verb) {
  // The arguments are described by the input schema, one sentence each; the description
  // carries what the schema cannot: the summary and the pitfalls. A pitfall that repeats
  // a shared convention is left to the server's instructions, which hold them all.
  std::string pitfalls;
  for (const std::string& note : verb.notes) {
    if (!is_convention(note)) pitfalls += "\n- " + note;
  }
  std::string description = verb.description;
  if (!pitfalls.empty()) description += "\n\nPitfalls:" + pitfalls;
  // The hints clients act on (whether to ask before a call), each only where it differs
  // from the protocol's default (not read-only, destructive): the list goes whole to
  // every model, so it carries nothing more.
  json annotations = json::object();
  if (verb.effect == VerbEffect::Reads) {
    annotations["readOnlyHint"] = true;
  } else {
    annotations["destructiveHint"] = verb.effect == VerbEffect::Destroys;
  }
  return {{"name", std::string(kVerbPrefix) + verb.name},
          {"description", std::move(description)},
          {"inputSchema", verb.input_schema},
          {"annotations", std::move(annotations)}};
}

const json& mcp_tools() {
  static const json tools = [] {
    json list = json::array();
    for (const VerbRecord& verb : verb_table()) list.push_back(mcp_tool(verb));
    return list;
  }();
  return tools;
}

std::optional<std::string> tool_argument_problem(const VerbRecord& verb, const json& args) {
  auto problem = schema_violation(verb.input_schema, args);
  if (!problem) return std::nullopt;
  return "Invalid arguments for " + std::string(kVerbPrefix) + verb.name + ": " + *problem;
}

const std::string& mcp_instructions() {
  static const std::string text = [] {
    const json& conventions = describe_answer()["catalog"]["conventions"];
    auto line = [&](const char* label, const char* key) {
      return std::string("- ") + label + ": " + conventions.value(key, "") + "\n";
    };
    return "These tools drive Adobe Premiere Pro on the user's desktop. Conventions shared by "
           "every tool:\n" +
           line("Clip references", "clipRefs") + line("Times", "times") +
           line("Tracks", "tracks") + line("Paths", "paths") + line("Undo", "undo") +
           "Call premiere_readiness first: it says whether Premiere and its plug-in are ready "
           "and which tool to call next when they are not.";
  }();
  return text;
}

}  // namespace cutrelay
