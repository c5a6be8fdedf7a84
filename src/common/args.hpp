#pragma once
// Reading verb arguments. One rule everywhere: a member of the wrong JSON type counts as
// absent, numbers count only as non-negative integers, a switch that defaults to off is
// turned on only by `true`, one that defaults to on is turned off only by `false`.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/json_util.hpp"

namespace cutrelay {

// The member `key` of `args` when `args` is an object and the member is a JSON integer
// from 0 to 2^64-1 (2.5, -1 and "30" do not count).
std::optional<std::uint64_t> arg_uint(const json& args, std::string_view key);

// The member `key` when it is a string.
const std::string* arg_string(const json& args, std::string_view key);

// A switch that defaults to off: true only when the member is the JSON value true.
bool arg_on(const json& args, std::string_view key);

// A switch that defaults to on: false only when the member is the JSON value false.
bool arg_not_off(const json& args, std::string_view key);

// Whether `args` is an object holding `key`, whatever its value (null included).
bool arg_present(const json& args, std::string_view key);

// A JSON integer from 0 to 2^64-1, as a number.
std::optional<std::uint64_t> as_uint(const json& value);

}  // namespace cutrelay
