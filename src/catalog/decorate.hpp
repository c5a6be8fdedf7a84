#pragma once
// The last step of every command: guidance for the agent from the verb's catalog row.
#include <string_view>

#include "common/json_util.hpp"

namespace cutrelay {

// The hint for a failed answer, chosen by its `errorCode` (exact, case-sensitive match;
// anything unlisted, missing or not a string gets the general hint).
std::string_view hint_for_error(const json& error_code);

// Adds `_hint`, `_next`, `pitfalls` and `verb` to an answer of a catalogued verb, never
// overwriting guidance the verb already put there (`verb` excepted). `verb` is the name
// without the "premiere_" prefix. Answers of unknown verbs and non-objects pass unchanged.
json decorate(std::string_view verb, json answer);

}  // namespace cutrelay
