#pragma once
// The verb catalog seen as Model Context Protocol tools: one tool per verb, named
// "premiere_<verb>", built from the verb's record (texts, declared input schema, effect).
#include <optional>
#include <string>
#include <string_view>

#include "catalog/catalog.hpp"

namespace cutrelay {

// The tool for one verb: name, description (summary and pitfalls), inputSchema and
// annotations (readOnlyHint or destructiveHint).
json mcp_tool(const VerbRecord& verb);

// Every verb as a tool, in catalog order; built once.
const json& mcp_tools();

// Why `args` (an object, its aliases already renamed) do not fit the verb's input schema,
// as a sentence for the client, or nothing when they fit.
std::optional<std::string> tool_argument_problem(const VerbRecord& verb, const json& args);

// The server's `instructions`: the catalog's conventions and where to start.
const std::string& mcp_instructions();

}  // namespace cutrelay
