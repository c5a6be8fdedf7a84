#pragma once
// The verb catalog seen as Model Context Protocol tools: one tool per verb, named
// "premiere_<verb>", its input schema read from the row's argument summary. Nothing here is
// written twice: every text comes from the verb table.
#include <string>
#include <string_view>

#include "catalog/catalog.hpp"

namespace cutrelay {

// An object schema for an argument summary such as
// `{item, time?(default playhead), track?|videoTrack?:"V1", limitShift?}`:
//  - each comma-separated member becomes a property; one without "?" and without
//    alternatives ("a|b", "a&b") is required;
//  - a type is given only where the example says it plainly: a quoted text, a number, a
//    list, an object, bool/true/false, "n" (a count), a "0-15" range, a path or code body;
//    anything else (times, item references, "index|name") stays unconstrained;
//  - the example, default or note is kept as the property's description;
//  - a ";" at the top level ends the list (what follows is prose).
// `additionalProperties` is true: the summaries are informal and verbs accept more.
json input_schema_from_summary(std::string_view summary);

// The tool for one verb: name, title, description (summary, argument shape, pitfalls),
// inputSchema (with `timeoutSec` for forwarded verbs) and annotations.
json mcp_tool(const VerbRecord& verb);

// Every verb as a tool, in catalog order; built once.
const json& mcp_tools();

// The server's `instructions`: the catalog's conventions and where to start.
const std::string& mcp_instructions();

}  // namespace cutrelay
