#include "direct_api/monitor_snapshot.hpp"

#include <algorithm>
#include <chrono>
#include <string_view>

#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>

#include "common/args.hpp"
#include "common/async.hpp"
#include "direct_api/direct_api.hpp"

namespace cutrelay {

namespace asio = boost::asio;

namespace {

const json* member(const json& object, std::string_view key) {
  if (!object.is_object()) return nullptr;
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

const json* text_member(const json& object, std::string_view key) {
  const json* value = member(object, key);
  return value && value->is_string() ? value : nullptr;
}

json copy_or_null(const json* value) { return value ? *value : json(); }

std::int64_t side(const json* value) {
  if (value == nullptr) return 0;
  if (value->is_number_integer() && !value->is_number_unsigned()) return value->get<std::int64_t>();
  if (value->is_number_unsigned()) {
    const auto v = value->get<std::uint64_t>();
    return v > static_cast<std::uint64_t>(INT64_MAX) ? 0 : static_cast<std::int64_t>(v);
  }
  return 0;
}

}  // namespace

bool is_premiere_window(const json& window) {
  if (const json* bundle = text_member(window, "appBundleId")) {
    if (bundle->get_ref<const std::string&>().starts_with("com.adobe.PremierePro")) return true;
  }
  if (const json* title = text_member(window, "title")) {
    const auto& text = title->get_ref<const std::string&>();
    if (text.find(".prproj") != std::string::npos || text.starts_with("Adobe Premiere Pro")) {
      return true;
    }
  }
  return false;
}

__int128 window_area(const json& window) {
  const json* rect = member(window, "rect");
  if (rect == nullptr) return 0;
  return static_cast<__int128>(side(member(*rect, "width"))) * side(member(*rect, "height"));
}

const json* choose_window(const json& windows) {
  if (!windows.is_array()) return nullptr;
  const json* best = nullptr;
  __int128 best_area = 0;
  for (const json& window : windows) {
    if (!is_premiere_window(window)) continue;
    const __int128 area = window_area(window);
    if (best == nullptr || area >= best_area) {
      best = &window;
      best_area = area;
    }
  }
  return best;
}

json snapshot_answer(const json& window, const json& capture) {
  const json* out = member(capture, "output");
  if (out && out->is_null()) out = nullptr;
  const json* data = out ? member(*out, "data") : nullptr;
  const json* image_text = data ? text_member(*data, "image") : nullptr;
  if (image_text == nullptr && out) image_text = text_member(*out, "image");
  const bool safe_path = data && text_member(*data, "safePath");

  json answer = json::object();
  answer["image"] = image_text ? json{{"mime", "image/png"}, {"base64", *image_text}} : json();
  answer["success"] = image_text != nullptr || safe_path;
  answer["window"] = {{"hwnd", copy_or_null(member(window, "hwnd"))},
                      {"title", copy_or_null(member(window, "title"))}};
  answer["safePath"] = copy_or_null(data ? member(*data, "safePath") : nullptr);
  answer["fullPath"] = copy_or_null(data ? member(*data, "fullPath") : nullptr);
  answer["error"] = out ? json() : copy_or_null(member(capture, "error"));
  return answer;
}

std::chrono::milliseconds settle_delay(const json& args) {
  const std::uint64_t ms = arg_uint(args, "settleMs").value_or(kDefaultSettleMs);
  return std::chrono::milliseconds(std::min(ms, kMaxSettleMs));
}

asio::awaitable<json> monitor_snapshot(VerbContext ctx, json args) {
  if (arg_present(args, "time")) {
    json playhead = {{"time", args.at("time")}, {"sequence", copy_or_null(member(args, "sequence"))}};
    std::string verb = "set_playhead";
    json moved = co_await ctx.dispatch(std::move(verb), std::move(playhead));
    const json* success = member(moved, "success");
    if (!(success && success->is_boolean() && success->get<bool>())) co_return moved;
    const std::chrono::milliseconds settle = settle_delay(args);
    if (settle.count() > 0) {
      asio::steady_timer timer(co_await asio::this_coro::executor);
      timer.expires_after(settle);
      co_await timer.async_wait(nothrow);
    }
  }

  // Arguments are named locals: GCC 12 mishandles temporaries inside co_await expressions.
  std::string list_command = "desktop_list_windows";
  json no_args = json::object();
  const DirectApiResult listed = co_await direct_api_call(std::move(list_command), std::move(no_args));
  if (!listed.ok()) {
    co_return json{{"success", false},
                   {"errorCode", "qb_unreachable"},
                   {"error", listed.error},
                   {"_hint",
                    "This verb needs Quor Bridge's direct API (it's set when Quor Bridge spawns the "
                    "bridge). Use premiere_preview_frame instead."}};
  }
  const json* output = member(*listed.value, "output");
  const json* data = output ? member(*output, "data") : nullptr;
  const json* windows = data ? member(*data, "windows") : nullptr;
  const json* chosen = windows ? choose_window(*windows) : nullptr;
  if (chosen == nullptr) {
    co_return json{{"success", false},
                   {"errorCode", "window_not_found"},
                   {"error", "Couldn't find Premiere's main window."},
                   {"_hint", "Is Premiere running and not minimized? premiere_status."}};
  }
  const json window = *chosen;

  json capture_args = {{"hwnd", copy_or_null(member(window, "hwnd"))}};
  std::string capture_command = "desktop_screenshot_window";
  const DirectApiResult captured =
      co_await direct_api_call(std::move(capture_command), std::move(capture_args));
  if (!captured.ok()) {
    co_return json{{"success", false}, {"errorCode", "screenshot_failed"}, {"error", captured.error}};
  }
  co_return snapshot_answer(window, *captured.value);
}

}  // namespace cutrelay
