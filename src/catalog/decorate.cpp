#include "catalog/decorate.hpp"

#include <array>
#include <utility>

#include "catalog/catalog.hpp"

namespace cutrelay {

namespace {

constexpr std::string_view kClipHint =
    "Re-read the timeline with premiere_get_sequence and use a `ref` from it (\"V1:0\").";
constexpr std::string_view kParamHint =
    "premiere_get_clip_effects lists the clip's components and exact param names.";
constexpr std::string_view kEffectHint = "premiere_list_effects {kind, search} lists exact names.";
constexpr std::string_view kDefaultHint =
    "Read `error`. premiere_status shows connection health; premiere_eval lets you probe the API "
    "directly.";

constexpr std::array<std::pair<std::string_view, std::string_view>, 16> kErrorHints{{
    {"bad_clip", kClipHint},
    {"clip_not_found", kClipHint},
    {"bad_time", "Times: seconds (12.5), timecode \"00:00:12:15\", \"300f\" (frames), or {ticks}."},
    {"no_project", "No project open: premiere_open_project {path} or premiere_new_project {path}."},
    {"no_sequence",
     "No active sequence: premiere_list_sequences then premiere_set_active_sequence, or "
     "premiere_create_sequence."},
    {"item_not_found",
     "premiere_list_project_items {search:\"…\"} shows item ids/names; import with "
     "premiere_import_media first."},
    {"track_not_found", "premiere_get_sequence lists the tracks; premiere_add_tracks adds more."},
    {"param_not_found", kParamHint},
    {"component_not_found", kParamHint},
    {"effect_not_found", kEffectHint},
    {"transition_not_found", kEffectHint},
    {"not_in_uxp",
     "This plugin build lacks that verb — premiere_install_plugin {force:true} then restart "
     "Premiere, or use premiere_eval."},
    {"cep_not_connected",
     "The CEP helper isn't connected. premiere_install_plugin (sets it up), then restart "
     "Premiere."},
    {"transaction_failed",
     "Premiere rejected the edit. Read the clip with premiere_get_sequence and check times are "
     "inside the media."},
    {"edit_not_applied",
     "Premiere accepted the edit but the project does not show it (expected and found say "
     "where). Re-read the sequence with premiere_get_sequence before retrying: part of the edit "
     "may have happened and clips may have moved."},
    {"extendscript_error",
     "ExtendScript threw — check the `error` and `line`; QE calls need an active sequence."},
}};

}  // namespace

std::string_view hint_for_error(const json& error_code) {
  if (error_code.is_string()) {
    const auto& code = error_code.get_ref<const std::string&>();
    for (const auto& [known, hint] : kErrorHints) {
      if (known == code) return hint;
    }
  }
  return kDefaultHint;
}

json decorate(std::string_view verb, json answer) {
  const VerbRecord* record = find_verb(verb);
  if (record == nullptr || !answer.is_object()) return answer;

  const auto success = answer.find("success");
  const bool succeeded = success != answer.end() && success->is_boolean() && success->get<bool>();
  if (succeeded) {
    if (!answer.contains("_hint") && !record->tip.empty()) answer["_hint"] = record->tip;
    if (!answer.contains("_next") && !record->related.empty()) {
      answer["_next"] = text_list(record->related);
    }
  } else if (!answer.contains("_hint")) {
    const auto code = answer.find("errorCode");
    answer["_hint"] = hint_for_error(code == answer.end() ? json() : *code);
  }
  if (!answer.contains("pitfalls") && !record->notes.empty()) {
    answer["pitfalls"] = text_list(record->notes);
  }
  answer["verb"] = std::string(kVerbPrefix) + std::string(verb);
  return answer;
}

}  // namespace cutrelay
