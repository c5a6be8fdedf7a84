#include "common/args.hpp"

namespace cutrelay {

namespace {

const json* member(const json& args, std::string_view key) {
  if (!args.is_object()) return nullptr;
  auto it = args.find(key);
  return it == args.end() ? nullptr : &*it;
}

}  // namespace

std::optional<std::uint64_t> as_uint(const json& value) {
  if (value.is_number_unsigned()) return value.get<std::uint64_t>();
  if (value.is_number_integer()) {
    const auto v = value.get<std::int64_t>();
    if (v >= 0) return static_cast<std::uint64_t>(v);
  }
  return std::nullopt;
}

std::optional<std::uint64_t> arg_uint(const json& args, std::string_view key) {
  const json* v = member(args, key);
  return v ? as_uint(*v) : std::nullopt;
}

const std::string* arg_string(const json& args, std::string_view key) {
  const json* v = member(args, key);
  return v && v->is_string() ? &v->get_ref<const std::string&>() : nullptr;
}

bool arg_on(const json& args, std::string_view key) {
  const json* v = member(args, key);
  return v && v->is_boolean() && v->get<bool>();
}

bool arg_not_off(const json& args, std::string_view key) {
  const json* v = member(args, key);
  return !(v && v->is_boolean() && !v->get<bool>());
}

bool arg_present(const json& args, std::string_view key) { return member(args, key) != nullptr; }

}  // namespace cutrelay
