#include "catalog/catalog.hpp"

#include <cstdlib>
#include <iostream>
#include <unordered_map>

#include "catalog/decorate.hpp"
#include "catalog/schema_check.hpp"

namespace cutrelay {

namespace {

// The catalog is part of the program; a record that does not read is a build fault, found
// by the unit tests, never something to serve around.
[[noreturn]] void broken(const std::string& why) {
  std::cerr << "cutrelay: the built-in verb catalog is broken: " << why << std::endl;
  std::abort();
}

const json& member(const json& object, const char* key, const std::string& where) {
  const auto it = object.find(key);
  if (it == object.end()) broken(where + " has no " + key);
  return *it;
}

std::string text_member(const json& object, const char* key, const std::string& where) {
  const json& value = member(object, key, where);
  if (!value.is_string()) broken(where + "." + key + " is not a text");
  return value.get<std::string>();
}

std::vector<std::string> text_array(const json& object, const char* key, const std::string& where) {
  const json& value = member(object, key, where);
  if (!value.is_array()) broken(where + "." + key + " is not a list");
  std::vector<std::string> texts;
  for (const json& text : value) {
    if (!text.is_string()) broken(where + "." + key + " holds something other than text");
    texts.push_back(text.get<std::string>());
  }
  return texts;
}

Runtime runtime_named(const std::string& label, const std::string& where) {
  for (Runtime kind : {Runtime::Bridge, Runtime::UxpPlugin, Runtime::CepHelper, Runtime::CepOrUxp}) {
    if (runtime_label(kind) == label) return kind;
  }
  broken(where + ".runsIn is not a runtime: " + label);
}

VerbEffect effect_named(const std::string& text, const std::string& where) {
  if (text == "reads") return VerbEffect::Reads;
  if (text == "edits") return VerbEffect::Edits;
  if (text == "destroys") return VerbEffect::Destroys;
  broken(where + ".effect is not reads, edits or destroys: " + text);
}

DefaultPath default_path_named(const std::string& text, const std::string& where) {
  if (text == "previews-dir") return DefaultPath::PreviewsDir;
  if (text == "qe-frame-path") return DefaultPath::QeFramePath;
  broken(where + ".fills is not previews-dir or qe-frame-path: " + text);
}

// A schema with every {"$ref": "#/$defs/<name>"} replaced by that definition, so each
// tool's schema stands on its own. Members beside a reference (a description, a default)
// override the definition's.
json inline_refs(const json& schema, const json& defs, const std::string& where, int depth = 0) {
  if (depth > 16) broken(where + ": references nest too deep");
  if (schema.is_array()) {
    json out = json::array();
    for (const json& element : schema) out.push_back(inline_refs(element, defs, where, depth + 1));
    return out;
  }
  if (!schema.is_object()) return schema;
  json out = json::object();
  if (const auto ref = schema.find("$ref"); ref != schema.end()) {
    static constexpr std::string_view kPrefix = "#/$defs/";
    const std::string target = ref->is_string() ? ref->get<std::string>() : std::string();
    if (!std::string_view(target).starts_with(kPrefix) || !defs.contains(target.substr(kPrefix.size()))) {
      broken(where + ": unknown reference " + ref->dump());
    }
    out = inline_refs(defs.at(target.substr(kPrefix.size())), defs, where, depth + 1);
  }
  for (const auto& [key, value] : schema.items()) {
    if (key == "$ref") continue;
    if (key == "properties" && value.is_object()) {
      json properties = json::object();
      for (const auto& [name, property] : value.items()) {
        properties[name] = inline_refs(property, defs, where, depth + 1);
      }
      out[key] = std::move(properties);
    } else if (key == "items" || key == "oneOf") {
      out[key] = inline_refs(value, defs, where, depth + 1);
    } else {
      out[key] = value;  // a keyword's value that is data: a text, a list of names, a number
    }
  }
  return out;
}

json timeout_property(std::uint64_t seconds) {
  return {{"type", "integer"}, {"default", seconds}, {"description", "Seconds before giving up."}};
}

// The input schema of a record: its params, each with `required` moved into the object's
// list and the catalog's own `unlisted` mark (the argument summary does not name it)
// dropped; forwarded verbs take `timeoutSec` as well.
json input_schema(const json& params, const json& defs, const VerbRecord& verb, const std::string& where) {
  if (!params.is_object()) broken(where + ".params is not an object");
  json properties = json::object();
  json required = json::array();
  for (const auto& [name, declared] : params.items()) {
    const std::string at = where + ".params." + name;
    if (!declared.is_object()) broken(at + " is not an object");
    json property = inline_refs(declared, defs, at);
    if (const auto flag = property.find("required"); flag != property.end() && flag->is_boolean()) {
      if (flag->get<bool>()) required.push_back(name);
      property.erase("required");
    }
    property.erase("unlisted");
    const auto description = property.find("description");
    if (description == property.end() || !description->is_string() || description->get_ref<const std::string&>().empty()) {
      broken(at + " has no description");
    }
    if (const std::string unknown = unsupported_schema_keyword(property); !unknown.empty()) {
      broken(at + " uses " + unknown + ", which argument checking does not know");
    }
    properties[name] = std::move(property);
  }
  if (verb.kind != Runtime::Bridge && !properties.contains("timeoutSec")) {
    properties["timeoutSec"] = timeout_property(verb.timeout);
  }
  json schema = {{"type", "object"}, {"properties", std::move(properties)}, {"additionalProperties", false}};
  if (!required.empty()) schema["required"] = std::move(required);
  return schema;
}

struct Catalog {
  std::vector<VerbRecord> verbs;
  json conventions;
};

Catalog load_catalog() {
  json source;
  try {
    source = json::parse(verb_catalog_source());
  } catch (const std::exception& e) {
    broken(std::string("verbs.json does not parse: ") + e.what());
  }
  const json& defs = member(source, "$defs", "verbs.json");
  Catalog catalog;
  catalog.conventions = member(source, "conventions", "verbs.json");
  for (const json& row : member(source, "verbs", "verbs.json")) {
    VerbRecord verb;
    verb.name = text_member(row, "name", "a verb");
    const std::string where = "verb " + verb.name;
    verb.description = text_member(row, "summary", where);
    verb.args = text_member(row, "input", where);
    verb.tip = text_member(row, "tip", where);
    verb.related = text_array(row, "related", where);
    verb.notes = text_array(row, "notes", where);
    const json& timeout = member(row, "timeout", where);
    if (!timeout.is_number_unsigned()) broken(where + ".timeout is not a whole number");
    verb.timeout = timeout.get<std::uint64_t>();
    verb.kind = runtime_named(text_member(row, "runsIn", where), where);
    verb.effect = effect_named(text_member(row, "effect", where), where);
    if (row.contains("fills")) verb.default_path = default_path_named(text_member(row, "fills", where), where);
    verb.reports_progress = row.value("progress", false);
    const json& params = member(row, "params", where);
    if (const auto aliases = row.find("aliases"); aliases != row.end()) {
      for (const auto& [name, canonical] : aliases->items()) {
        if (!canonical.is_string() || !params.contains(name) || !params.contains(canonical.get<std::string>())) {
          broken(where + ".aliases." + name + " must name two of its params");
        }
        verb.aliases.push_back({name, canonical.get<std::string>()});
      }
    }
    verb.input_schema = input_schema(params, defs, verb, where);
    catalog.verbs.push_back(std::move(verb));
  }
  return catalog;
}

const Catalog& catalog() {
  static const Catalog loaded = load_catalog();
  return loaded;
}

}  // namespace

std::span<const VerbRecord> verb_table() { return catalog().verbs; }

const VerbRecord* find_verb(std::string_view name) {
  // Every request looks its verb up at least twice (routing, decoration): hashed once,
  // on first use, instead of a scan of the whole table each time.
  static const auto index = [] {
    std::unordered_map<std::string_view, const VerbRecord*> map;
    for (const VerbRecord& verb : verb_table()) map.emplace(verb.name, &verb);
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

json text_list(std::span<const std::string> texts) {
  json list = json::array();
  for (const std::string& text : texts) list.push_back(text);
  return list;
}

void apply_aliases(const VerbRecord& verb, json& args) {
  if (!args.is_object()) return;
  for (const ArgAlias& alias : verb.aliases) {
    const auto it = args.find(alias.name);
    if (it == args.end()) continue;
    if (!args.contains(alias.canonical)) args[alias.canonical] = std::move(*it);
    args.erase(alias.name);
  }
}

namespace {

json build_describe_answer() {
  json verbs = json::array();
  for (const VerbRecord& verb : verb_table()) {
    verbs.push_back({
        {"hint", verb.tip},
        {"input", verb.args},
        {"longRunning", is_long_running(verb)},
        {"name", std::string(kVerbPrefix) + verb.name},
        {"pitfalls", text_list(verb.notes)},
        {"related", text_list(verb.related)},
        {"runsIn", runtime_label(verb.kind)},
        {"statusVerb", "premiere_status"},
        {"summary", verb.description},
        {"timeoutSeconds", verb.timeout},
    });
  }
  json catalog_object = {
      {"bridge", "premiere"},
      {"conventions", catalog().conventions},
      {"verbCount", verbs.size()},
      {"verbs", std::move(verbs)},
      {"version", kVersion},
  };
  return {{"catalog", catalog_object}, {"data", catalog_object}, {"success", true}};
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
