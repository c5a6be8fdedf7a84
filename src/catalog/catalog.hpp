#pragma once
// The verb catalog: the fixed table of every verb an agent can send, where each runs, how
// long it may take, and the guidance returned with its answers.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/json_util.hpp"

namespace cutrelay {

inline constexpr std::string_view kVersion = "0.1.0";
inline constexpr int kProtocol = 1;
inline constexpr std::string_view kVerbPrefix = "premiere_";

// Where a verb runs.
enum class Runtime : std::uint8_t {
  Bridge = 0,     // the bridge itself
  UxpPlugin = 1,  // the UXP plug-in
  CepHelper = 2,  // the CEP helper
  CepOrUxp = 3,   // the CEP helper while it is connected, else the UXP plug-in
};

struct VerbRecord {
  std::string_view name;         // without the "premiere_" prefix
  std::string_view description;  // one-sentence summary
  std::string_view args;         // informal argument shape, for the agent only
  std::string_view tip;          // what to do after a success; may be empty
  std::span<const std::string_view> related;  // full verb names
  std::span<const std::string_view> notes;    // pitfalls
  std::uint64_t timeout;                      // default time-out in seconds
  Runtime kind;
};

std::span<const VerbRecord> verb_table();

// The row whose name equals `name` byte for byte (no prefix handling), or nullptr.
const VerbRecord* find_verb(std::string_view name);

std::string_view runtime_label(Runtime kind);

// A verb is long-running when its time-out exceeds one minute.
constexpr bool is_long_running(const VerbRecord& verb) { return verb.timeout > 60; }

// A JSON array of the given texts, in order.
json text_list(std::span<const std::string_view> texts);

// The undecorated answer of `describe`: {catalog, data, success}.
const json& describe_answer();

// The decorated `describe` answer, serialised once for the life of the process.
const std::string& describe_answer_text();

}  // namespace cutrelay
