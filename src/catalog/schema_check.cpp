#include "catalog/schema_check.hpp"

#include <map>
#include <mutex>
#include <regex>
#include <string_view>

namespace cutrelay {

namespace {

constexpr std::size_t kMaxPatternInput = 256;

bool is_known_keyword(std::string_view key) {
  static constexpr std::string_view kKnown[] = {
      "type",    "enum",     "properties",       "required", "additionalProperties",
      "items",   "minimum",  "maximum",          "pattern",  "exclusiveMinimum",
      "oneOf",   "default",  "description",      "title"};
  for (std::string_view known : kKnown) {
    if (key == known) return true;
  }
  return false;
}

bool has_type(const json& value, std::string_view type) {
  if (type == "object") return value.is_object();
  if (type == "array") return value.is_array();
  if (type == "string") return value.is_string();
  if (type == "boolean") return value.is_boolean();
  if (type == "null") return value.is_null();
  if (type == "number") return value.is_number();
  if (type == "integer") return value.is_number_integer();  // signed or unsigned, never 5.0
  return false;
}

bool matches_type(const json& schema, const json& value) {
  const auto type = schema.find("type");
  if (type == schema.end()) return true;
  if (type->is_string()) return has_type(value, type->get_ref<const std::string&>());
  if (type->is_array()) {
    for (const json& name : *type) {
      if (name.is_string() && has_type(value, name.get_ref<const std::string&>())) return true;
    }
  }
  return false;
}

std::string type_words(std::string_view type) {
  if (type == "object") return "an object";
  if (type == "array") return "a list";
  if (type == "string") return "a text";
  if (type == "boolean") return "true or false";
  if (type == "null") return "null";
  if (type == "integer") return "a whole number";
  return "a number";
}

std::string join_or(const std::vector<std::string>& parts) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += i + 1 == parts.size() ? " or " : ", ";
    out += parts[i];
  }
  return out;
}

std::string number_text(const json& number) { return dump_compact(number); }

// What a value satisfying `schema` looks like, in a few words. A form of a oneOf carries
// its description in parentheses ("a text (\"V1:0\")").
std::string expectation(const json& schema, bool with_description) {
  if (const auto choices = schema.find("enum"); choices != schema.end() && choices->is_array()) {
    std::vector<std::string> names;
    for (const json& choice : *choices) names.push_back(dump_compact(choice));
    return "one of " + join_or(names);
  }
  if (const auto forms = schema.find("oneOf"); forms != schema.end() && forms->is_array()) {
    std::vector<std::string> parts;
    for (const json& form : *forms) parts.push_back(expectation(form, true));
    return join_or(parts);
  }
  std::string words;
  if (const auto type = schema.find("type"); type != schema.end()) {
    std::vector<std::string> names;
    if (type->is_string()) names.push_back(type_words(type->get_ref<const std::string&>()));
    if (type->is_array()) {
      for (const json& name : *type) {
        if (name.is_string()) names.push_back(type_words(name.get_ref<const std::string&>()));
      }
    }
    words = join_or(names);
  } else {
    words = "any value";
  }
  const auto low = schema.find("minimum");
  const auto high = schema.find("maximum");
  if (low != schema.end() && high != schema.end()) {
    words += " from " + number_text(*low) + " to " + number_text(*high);
  } else if (low != schema.end()) {
    words += " of at least " + number_text(*low);
  } else if (high != schema.end()) {
    words += " of at most " + number_text(*high);
  }
  if (const auto above = schema.find("exclusiveMinimum"); above != schema.end()) {
    words += " above " + number_text(*above);
  }
  if (with_description) {
    if (const auto text = schema.find("description"); text != schema.end() && text->is_string()) {
      words += " (" + text->get<std::string>() + ")";
    }
  }
  return words;
}

std::string shown(const json& value) {
  std::string text = dump_compact(value);
  if (text.size() > 60) text = text.substr(0, 57) + "...";
  return text;
}

bool pattern_matches(const std::string& pattern, const std::string& text) {
  if (text.size() > kMaxPatternInput) return false;
  // The catalog has a handful of patterns: each compiled once, on first use.
  static std::mutex mutex;
  static std::map<std::string, std::regex> compiled;
  std::regex re;
  {
    std::lock_guard lock(mutex);
    auto it = compiled.find(pattern);
    if (it == compiled.end()) it = compiled.emplace(pattern, std::regex(pattern, std::regex::ECMAScript)).first;
    re = it->second;
  }
  return std::regex_search(text, re);
}

std::optional<std::string> violation_at(const json& schema, const json& value, const std::string& where);

std::string label(const std::string& where) { return where.empty() ? "The arguments" : "`" + where + "`"; }

std::string must_be(const std::string& where, const json& schema, const json& value) {
  return label(where) + " must be " + expectation(schema, false) + "; got " + shown(value) + ".";
}

std::optional<std::string> one_of_violation(const json& forms, const json& schema, const json& value,
                                            const std::string& where) {
  std::size_t valid = 0;
  const json* typed = nullptr;  // the one form whose type the value has, if only one has
  std::size_t typed_count = 0;
  for (const json& form : forms) {
    if (!violation_at(form, value, where)) ++valid;
    if (form.contains("type") && matches_type(form, value)) {
      typed = &form;
      ++typed_count;
    }
  }
  if (valid == 1) return std::nullopt;
  if (valid > 1) return label(where) + " fits more than one of its forms: " + expectation(schema, false) + ".";
  // The value has the right type for one form only: that form's complaint says more.
  if (typed_count == 1) return violation_at(*typed, value, where);
  return must_be(where, schema, value);
}

std::optional<std::string> violation_at(const json& schema, const json& value, const std::string& where) {
  if (!schema.is_object()) return std::nullopt;
  if (const auto forms = schema.find("oneOf"); forms != schema.end() && forms->is_array()) {
    if (auto problem = one_of_violation(*forms, schema, value, where)) return problem;
  }
  if (!matches_type(schema, value)) return must_be(where, schema, value);
  if (const auto choices = schema.find("enum"); choices != schema.end() && choices->is_array()) {
    bool found = false;
    for (const json& choice : *choices) found = found || choice == value;
    if (!found) return must_be(where, schema, value);
  }
  if (value.is_number()) {
    const double number = value.get<double>();
    const auto low = schema.find("minimum");
    const auto above = schema.find("exclusiveMinimum");
    const auto high = schema.find("maximum");
    if ((low != schema.end() && low->is_number() && number < low->get<double>()) ||
        (above != schema.end() && above->is_number() && number <= above->get<double>()) ||
        (high != schema.end() && high->is_number() && number > high->get<double>())) {
      return must_be(where, schema, value);
    }
  }
  if (value.is_string()) {
    if (const auto pattern = schema.find("pattern"); pattern != schema.end() && pattern->is_string()) {
      if (!pattern_matches(pattern->get<std::string>(), value.get<std::string>())) {
        return label(where) + " must look like " + expectation(schema, true) + "; got " + shown(value) + ".";
      }
    }
  }
  if (value.is_array()) {
    if (const auto items = schema.find("items"); items != schema.end()) {
      for (std::size_t i = 0; i < value.size(); ++i) {
        if (auto problem = violation_at(*items, value[i], where + "[" + std::to_string(i) + "]")) return problem;
      }
    }
  }
  if (value.is_object()) {
    const std::string prefix = where.empty() ? "" : where + ".";
    const auto properties = schema.find("properties");
    if (const auto required = schema.find("required"); required != schema.end() && required->is_array()) {
      for (const json& name : *required) {
        if (name.is_string() && !value.contains(name.get<std::string>())) {
          return "`" + prefix + name.get<std::string>() + "` is required.";
        }
      }
    }
    const auto extra = schema.find("additionalProperties");
    const bool closed = extra != schema.end() && extra->is_boolean() && !extra->get<bool>();
    for (const auto& [name, member] : value.items()) {
      const bool known = properties != schema.end() && properties->is_object() && properties->contains(name);
      if (known) {
        if (auto problem = violation_at(properties->at(name), member, prefix + name)) return problem;
      } else if (closed) {
        std::vector<std::string> names;
        if (properties != schema.end() && properties->is_object()) {
          for (const auto& [taken, ignored] : properties->items()) names.push_back(taken);
        }
        std::string list;
        for (const std::string& taken : names) list += (list.empty() ? "" : ", ") + taken;
        return "`" + prefix + name + "` is not an argument here" +
               (list.empty() ? std::string(": it takes none.") : "; it takes " + list + ".");
      }
    }
  }
  return std::nullopt;
}

}  // namespace

std::string unsupported_schema_keyword(const json& schema) {
  if (!schema.is_object()) return {};
  for (const auto& [key, value] : schema.items()) {
    if (!is_known_keyword(key)) return key;
    if (key == "additionalProperties" && !(value.is_boolean() && !value.get<bool>())) {
      return "additionalProperties other than false";
    }
    std::string inner;
    if (key == "items") inner = unsupported_schema_keyword(value);
    if ((key == "oneOf" && value.is_array())) {
      for (const json& form : value) {
        if (inner.empty()) inner = unsupported_schema_keyword(form);
      }
    }
    if (key == "properties" && value.is_object()) {
      for (const auto& [name, property] : value.items()) {
        if (inner.empty()) inner = unsupported_schema_keyword(property);
      }
    }
    if (!inner.empty()) return inner;
  }
  return {};
}

std::optional<std::string> schema_violation(const json& schema, const json& value) {
  return violation_at(schema, value, "");
}

}  // namespace cutrelay
