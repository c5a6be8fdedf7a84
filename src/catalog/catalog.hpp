#pragma once
// The verb catalog: the fixed table of every verb an agent can send, where each runs, how
// long it may take, what it takes, and the guidance returned with its answers.
//
// Each verb has one record in src/catalog/verbs.json, which the build embeds in the
// program: its texts, time-out and runtime, its declared input schema, whether it only
// reads or may destroy work, the output locations the bridge fills in for it, and the
// other names its arguments go by. Nothing about a verb is written anywhere else.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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

// What a verb does to the user's work.
enum class VerbEffect : std::uint8_t {
  Reads,     // changes neither the project nor the machine (preview files aside)
  Edits,     // changes them, adding to what is there
  Destroys,  // may delete, close or overwrite work
};

// The output location the bridge fills in when the caller names none.
enum class DefaultPath : std::uint8_t {
  None,
  PreviewsDir,  // `dir`: the previews folder
  QeFramePath,  // `path`: qe_<ms>ms.png in the previews folder, after `time`
};

// Another name an argument goes by; the bridge renames it before the verb runs.
struct ArgAlias {
  std::string name;       // the other name
  std::string canonical;  // the name the verb reads
};

struct VerbRecord {
  std::string name;         // without the "premiere_" prefix
  std::string description;  // one-sentence summary
  std::string args;         // informal argument shape, for the agent only
  std::string tip;          // what to do after a success; may be empty
  std::vector<std::string> related;  // full verb names
  std::vector<std::string> notes;    // pitfalls
  std::uint64_t timeout = 0;         // default time-out in seconds
  Runtime kind = Runtime::Bridge;
  VerbEffect effect = VerbEffect::Reads;
  DefaultPath default_path = DefaultPath::None;
  std::vector<ArgAlias> aliases;
  bool reports_progress = false;  // sends progress to callers who ask for it
  // The arguments as a JSON Schema object: every property typed and described, `required`,
  // and `additionalProperties` false. Forwarded verbs also take `timeoutSec`.
  json input_schema;
};

std::span<const VerbRecord> verb_table();

// The row whose name equals `name` byte for byte (no prefix handling), or nullptr.
const VerbRecord* find_verb(std::string_view name);

std::string_view runtime_label(Runtime kind);

// A verb is long-running when its time-out exceeds one minute.
inline bool is_long_running(const VerbRecord& verb) { return verb.timeout > 60; }

// A JSON array of the given texts, in order.
json text_list(std::span<const std::string> texts);

// Renames the verb's argument aliases in `args` (an object) to the names the verb reads.
// When both are given, the canonical one wins and the alias is dropped.
void apply_aliases(const VerbRecord& verb, json& args);

// The undecorated answer of `describe`: {catalog, data, success}.
const json& describe_answer();

// The decorated `describe` answer, serialised once for the life of the process.
const std::string& describe_answer_text();

// The catalog's source text, embedded at build time.
std::string_view verb_catalog_source();

}  // namespace cutrelay
