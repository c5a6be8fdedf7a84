#include "catalog/catalog.hpp"

#include <iterator>
#include <unordered_map>

#include "catalog/decorate.hpp"
#include "catalog/verb_table.hpp"

namespace cutrelay {

static_assert(std::size(kVerbTable) == 91);

std::span<const VerbRecord> verb_table() { return kVerbTable; }

const VerbRecord* find_verb(std::string_view name) {
  // Every request looks its verb up at least twice (routing, decoration): hashed once,
  // on first use, instead of a scan of the whole table each time.
  static const auto index = [] {
    std::unordered_map<std::string_view, const VerbRecord*> map;
    map.reserve(std::size(kVerbTable));
    for (const VerbRecord& verb : kVerbTable) map.emplace(verb.name, &verb);
    return map;
  }();
  const auto it = index.find(name);
  return it == index.end() ? nullptr : it->second;
}

std::string_view runtime_label(Runtime kind) {
  switch (kind) {
    case Runtime::Bridge:
      return "bridge";
    case Runtime::UxpPlugin:
      return "uxp-plugin";
    case Runtime::CepHelper:
      return "cep-helper";
    case Runtime::CepOrUxp:
      return "cep-helper|uxp-plugin";
  }
  return "bridge";
}

json text_list(std::span<const std::string_view> texts) {
  json list = json::array();
  for (std::string_view text : texts) list.push_back(text);
  return list;
}

namespace {

json build_describe_answer() {
  json verbs = json::array();
  for (const VerbRecord& verb : kVerbTable) {
    verbs.push_back({
        {"hint", verb.tip},
        {"input", verb.args},
        {"longRunning", is_long_running(verb)},
        {"name", std::string(kVerbPrefix) + std::string(verb.name)},
        {"pitfalls", text_list(verb.notes)},
        {"related", text_list(verb.related)},
        {"runsIn", runtime_label(verb.kind)},
        {"statusVerb", "premiere_status"},
        {"summary", verb.description},
        {"timeoutSeconds", verb.timeout},
    });
  }
  json conventions = {
      {"clipRefs",
       "Clip refs are \"V1:0\" / \"A2:3\" = track:index (0-based, in time order) exactly as "
       "premiere_get_sequence lists them. Indexes shift after edits — re-read the sequence "
       "before the next edit."},
      {"times", "seconds (12.5) | timecode \"00:00:12:15\" | \"300f\" | {ticks}"},
      {"tracks", "\"V1\".. / \"A1\".. (1-based like the Premiere UI)"},
      {"paths",
       "All file paths are on the desktop running Premiere. Move files with quor-bridge "
       "send_files / pull_file."},
      {"undo", "Every edit verb is ONE undo step in Premiere (Edit > Undo) labelled with the action."},
  };
  json catalog = {
      {"bridge", "premiere"},
      {"conventions", std::move(conventions)},
      {"verbCount", verbs.size()},
      {"verbs", std::move(verbs)},
      {"version", kVersion},
  };
  return {{"catalog", catalog}, {"data", catalog}, {"success", true}};
}

}  // namespace

const json& describe_answer() {
  static const json answer = build_describe_answer();
  return answer;
}

const std::string& describe_answer_text() {
  static const std::string text = dump_compact(decorate("describe", describe_answer()));
  return text;
}

}  // namespace cutrelay
