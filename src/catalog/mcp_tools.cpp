#include "catalog/mcp_tools.hpp"

#include <algorithm>
#include <vector>

#include "common/text.hpp"

namespace cutrelay {

namespace {

bool is_ident_start(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool is_ident_char(char c) { return is_ident_start(c) || (c >= '0' && c <= '9'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Splits at `sep` where no bracket, parenthesis or quotation is open.
std::vector<std::string_view> split_top(std::string_view text, char sep) {
  std::vector<std::string_view> parts;
  int depth = 0;
  bool quoted = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    if (c == sep && depth == 0) {
      parts.push_back(text.substr(start, i - start));
      start = i + 1;
    } else if (c == '[' || c == '{' || c == '(') {
      ++depth;
    } else if ((c == ']' || c == '}' || c == ')') && depth > 0) {
      --depth;
    }
  }
  parts.push_back(text.substr(start));
  return parts;
}

// The index of the top-level `c` at or after `from`, or npos.
std::size_t find_top(std::string_view text, char c, std::size_t from = 0) {
  auto parts = split_top(text.substr(from), c);
  if (parts.size() < 2) return std::string_view::npos;
  return from + parts[0].size();
}

bool is_number(std::string_view v) {
  if (!v.empty() && v.front() == '-') v.remove_prefix(1);
  if (v.empty() || !is_digit(v.front()) || !is_digit(v.back())) return false;
  bool dot = false;
  for (char c : v) {
    if (c == '.' && !dot) {
      dot = true;
    } else if (!is_digit(c)) {
      return false;
    }
  }
  return true;
}

bool is_word(std::string_view v) {
  if (v.empty()) return false;
  return std::all_of(v.begin(), v.end(), [](char c) { return is_ident_char(c) || c == '.'; });
}

// Words that name a kind of value rather than a literal choice among texts.
bool names_non_text(std::string_view v) {
  return v == "index" || v == "seconds" || v == "timecode" || v == "number" || v == "raw" ||
         v == "bool" || v == "n";
}

// The schema a summary's example implies, or an empty object (unconstrained).
json type_from_example(std::string_view value) {
  value = trim(value);
  if (value.empty()) return json::object();
  const char first = value.front();
  if (first == '"') return {{"type", "string"}};
  if (first == '{') return {{"type", "object"}};
  if (first == '[') {
    json schema = {{"type", "array"}};
    const std::string_view inner = trim(value.substr(1, value.rfind(']') - 1));
    if (!inner.empty() && inner.front() == '{') {
      schema["items"] = {{"type", "object"}};
    } else if (!inner.empty() && inner.front() == '"') {
      schema["items"] = {{"type", "string"}};
    }
    return schema;
  }
  if (value == "bool" || value == "true" || value == "false" || value.starts_with("bool=")) {
    return {{"type", "boolean"}};
  }
  if (value == "n") return {{"type", "integer"}, {"minimum", 0}};
  if (value == "seconds" || is_number(value)) return {{"type", "number"}};
  if (const auto dash = value.find('-'); dash != std::string_view::npos && dash > 0) {
    const auto low = value.substr(0, dash), high = value.substr(dash + 1);
    if (is_number(low) && is_number(high) && low.find('.') == std::string_view::npos &&
        high.find('.') == std::string_view::npos) {
      return {{"type", "integer"},
              {"minimum", std::stoll(std::string(low))},
              {"maximum", std::stoll(std::string(high))}};
    }
  }
  if (value.find("path") != std::string_view::npos || value.find("body") != std::string_view::npos) {
    return {{"type", "string"}};
  }
  const auto choices = split_top(value, '|');
  if (choices.size() > 1) {
    bool numbers = true, words = true;
    for (std::string_view choice : choices) {
      choice = trim(choice);
      numbers = numbers && is_number(choice);
      words = words && (is_word(choice) || choice == "…") && !names_non_text(choice);
    }
    if (numbers) return {{"type", "number"}};
    if (words) return {{"type", "string"}};
  }
  return json::object();
}

struct Member {
  std::string name;
  bool optional = false;
  std::string_view value;  // after ':' or '='
  bool has_value = false;
};

// Reads `a?|b&c?:value` into its members. A value that is itself followed by "|name?" ends
// there, the rest being another alternative (as in `name?:"Cross Dissolve"|matchName?`).
std::vector<Member> read_group(std::string_view text) {
  std::vector<Member> members;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '|' || text[i] == '&')) ++i;
    if (i >= text.size() || !is_ident_start(text[i])) break;
    Member m;
    const std::size_t start = i;
    while (i < text.size() && is_ident_char(text[i])) ++i;
    m.name = std::string(text.substr(start, i - start));
    if (i < text.size() && text[i] == '?') {
      m.optional = true;
      ++i;
    }
    while (i < text.size() && text[i] == ' ') ++i;
    if (i < text.size() && text[i] == '(') {  // a note such as "(default playhead)"
      const std::size_t close = find_top(text, ')', i + 1);
      i = close == std::string_view::npos ? text.size() : close + 1;
      while (i < text.size() && text[i] == ' ') ++i;
    }
    if (i < text.size() && (text[i] == ':' || text[i] == '=')) {
      std::string_view rest = text.substr(i + 1);
      const auto choices = split_top(rest, '|');
      std::size_t used = rest.size();
      std::size_t offset = 0;
      for (std::size_t k = 0; k < choices.size(); ++k) {
        const std::string_view choice = trim(choices[k]);
        const bool member_like = k > 0 && choice.size() > 1 && is_ident_start(choice.front()) &&
                                 choice.find('?') != std::string_view::npos &&
                                 std::all_of(choice.begin(), choice.begin() + choice.find('?'),
                                             is_ident_char);
        if (member_like) {
          used = offset - 1;
          break;
        }
        offset += choices[k].size() + 1;
      }
      m.value = trim(rest.substr(0, used));
      m.has_value = true;
      members.push_back(std::move(m));
      i += 1 + used;
      continue;
    }
    members.push_back(std::move(m));
    // Anything else up to the next separator is a note the agent reads; skip it.
    while (i < text.size() && text[i] != '|' && text[i] != '&') ++i;
  }
  return members;
}

std::string title_for(std::string_view name) {
  std::string title(name);
  std::replace(title.begin(), title.end(), '_', ' ');
  if (!title.empty() && title[0] >= 'a' && title[0] <= 'z') title[0] = char(title[0] - 'a' + 'A');
  return title;
}

// Verbs that only look: they change neither the project nor the machine (the frame verbs
// write preview files into the bridge's own folder, which is not the user's work).
bool only_reads(std::string_view verb) {
  static constexpr std::string_view kReaders[] = {
      "describe",       "status",          "readiness",     "plugin_info",
      "wait_for_plugin", "events",         "read_file_base64", "preview_frame",
      "contact_sheet",  "monitor_snapshot", "list_export_presets", "ping",
      "get_transcript", "audio_probe"};
  if (verb.starts_with("get_") || verb.starts_with("list_")) return true;
  return std::find(std::begin(kReaders), std::end(kReaders), verb) != std::end(kReaders);
}

// Verbs that delete, close or overwrite work (or may, as arbitrary scripts can).
bool destroys(std::string_view verb) {
  static constexpr std::string_view kDestroyers[] = {
      "close_project", "quit", "overwrite_clip", "move_clip", "eval", "extendscript"};
  if (verb.starts_with("delete_") || verb.starts_with("remove_")) return true;
  return std::find(std::begin(kDestroyers), std::end(kDestroyers), verb) !=
         std::end(kDestroyers);
}

}  // namespace

json input_schema_from_summary(std::string_view summary) {
  json properties = json::object();
  json required = json::array();
  std::string_view body = trim(summary);
  if (body.starts_with("{")) body.remove_prefix(1);
  if (body.ends_with("}")) body.remove_suffix(1);
  // "{code: async-function body; in scope: ppro, h, …}": after a ';' comes prose.
  if (const auto semi = find_top(body, ';'); semi != std::string_view::npos) {
    body = body.substr(0, semi);
  }
  for (std::string_view segment : split_top(body, ',')) {
    segment = trim(segment);
    std::vector<Member> group = read_group(segment);
    if (group.empty()) continue;
    // A value written after the last alternative ("track?|videoTrack?:\"V1\"") describes
    // them all, except the list form of a sibling ("clip|clips"), which takes one or many.
    const Member* shared = group.size() > 1 && group.back().has_value ? &group.back() : nullptr;
    for (const Member& m : group) {
      if (properties.contains(m.name)) continue;
      json schema = json::object();
      const Member* source = m.has_value ? &m : shared;
      const bool list_form =
          std::any_of(group.begin(), group.end(),
                      [&](const Member& other) { return other.name + "s" == m.name; });
      if (source && !list_form) schema = type_from_example(source->value);
      if (m.has_value && m.value.starts_with("bool=")) {
        const std::string_view fallback = m.value.substr(5);
        if (fallback == "true" || fallback == "false") schema["default"] = fallback == "true";
      }
      schema["description"] = std::string(segment);
      properties[m.name] = std::move(schema);
      if (group.size() == 1 && !m.optional) required.push_back(m.name);
    }
  }
  json schema = {{"type", "object"}, {"properties", std::move(properties)},
                 {"additionalProperties", true}};
  if (!required.empty()) schema["required"] = std::move(required);
  return schema;
}

json mcp_tool(const VerbRecord& verb) {
  std::string description(verb.description);
  description += "\n\nArguments: ";
  description += verb.args;
  if (!verb.notes.empty()) {
    description += "\n\nPitfalls:";
    for (std::string_view note : verb.notes) {
      description += "\n- ";
      description += note;
    }
  }
  json schema = input_schema_from_summary(verb.args);
  if (verb.kind != Runtime::Bridge && !schema["properties"].contains("timeoutSec")) {
    schema["properties"]["timeoutSec"] = {
        {"type", "integer"},
        {"minimum", 1},
        {"maximum", 3600},
        {"description", "Seconds to wait for Premiere before giving up (default " +
                            std::to_string(verb.timeout) + ")."}};
  }
  json annotations = {{"openWorldHint", false}, {"title", title_for(verb.name)}};
  if (only_reads(verb.name)) {
    annotations["readOnlyHint"] = true;
  } else {
    // Unstated, a client must assume a tool that writes may destroy; say which do not.
    annotations["readOnlyHint"] = false;
    annotations["destructiveHint"] = destroys(verb.name);
  }
  return {{"name", std::string(kVerbPrefix) + std::string(verb.name)},
          {"title", title_for(verb.name)},
          {"description", std::move(description)},
          {"inputSchema", std::move(schema)},
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
