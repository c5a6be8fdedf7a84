#pragma once
// monitor_snapshot: a picture of Premiere Pro's main window as the user sees it, taken by the
// companion application through its direct API, optionally after moving the playhead.
#include <chrono>
#include <cstdint>

#include <boost/asio/awaitable.hpp>

#include "common/json_util.hpp"
#include "hub/verb_context.hpp"

namespace cutrelay {

inline constexpr std::uint64_t kDefaultSettleMs = 700;
// The longest wait after moving the playhead; a larger settleMs waits this long.
inline constexpr std::uint64_t kMaxSettleMs = 60'000;

// The wait after moving the playhead: `settleMs` when it is a non-negative integer, else
// 700 ms; at most a minute.
std::chrono::milliseconds settle_delay(const json& args);

// Whether a listed window belongs to Premiere Pro: its bundle id begins with
// "com.adobe.PremierePro", or its title names a project file or begins with the app's name.
bool is_premiere_window(const json& window);

// rect.width × rect.height; a side that is not a JSON integer within the signed 64-bit range
// counts as 0. Computed wide, so no product overflows.
__int128 window_area(const json& window);

// The largest Premiere window of the list (the later one of equal areas), or nullptr.
const json* choose_window(const json& windows);

// The verb's answer from the chosen window's list entry and the capture's answer.
json snapshot_answer(const json& window, const json& capture);

boost::asio::awaitable<json> monitor_snapshot(VerbContext ctx, json args);

}  // namespace cutrelay
