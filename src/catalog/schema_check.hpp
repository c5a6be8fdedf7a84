#pragma once
// Checking tool arguments against a verb's input schema, for MCP clients, which learn of a
// misspelt or mistyped argument before anything runs.
//
// Only the small part of JSON Schema (2020-12) that the catalog's schemas use is known:
// `type` (one name or a list), `enum`, `properties`, `required`, `additionalProperties`
// (false), `items`, `minimum`, `maximum`, `exclusiveMinimum`, `pattern` and `oneOf`;
// `description`, `default` and `title` are annotations. The catalog refuses a schema with
// any other keyword (unsupported_schema_keyword), so none is ever skipped silently.
//
// Two choices of this checker: an integer is a JSON integer (5.0 is not one, as the
// bridge's own argument readers take it), and a text over 256 bytes never matches a
// `pattern` (the patterns describe short references such as "V1:0").
#include <optional>
#include <string>

#include "common/json_util.hpp"

namespace cutrelay {

// The first keyword of `schema`, at any depth, that the checker does not know; empty when
// there is none.
std::string unsupported_schema_keyword(const json& schema);

// Why `value` does not satisfy `schema`, as one sentence that names the member and says
// what it should be, e.g. "`clip` must be a text ("V1:0") or an object ({track, index});
// got 5." Nothing when it does.
std::optional<std::string> schema_violation(const json& schema, const json& value);

}  // namespace cutrelay
