#pragma once
// The one shared record of a running bridge. Created once at start, shared by every
// request and plug-in connection, never replaced.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include <boost/asio/experimental/concurrent_channel.hpp>

#include "common/json_util.hpp"
#include "hub/outbox.hpp"

namespace cutrelay {

using Clock = std::chrono::steady_clock;

// Where a waiting call receives its result message. Single use: the reader sends the
// message, or the end of the connection closes the slot ("disconnected").
using ReplySlot =
    boost::asio::experimental::concurrent_channel<void(boost::system::error_code, json)>;

struct PendingCall {
  std::uint64_t conn_id = 0;
  std::shared_ptr<ReplySlot> slot;
};

struct PluginRecord {
  std::string runtime;  // "uxp" or "cep"
  Clock::time_point connected_at;
  json hello;  // as received, amended by hello updates
  std::shared_ptr<Outbox> outbox;
  std::uint64_t conn_id = 0;
};

struct BridgeState {
  std::string token;
  std::filesystem::path data_dir;
  Clock::time_point started_at = Clock::now();

  // Lock order where both are needed: plugins before pending. No section spans a co_await.
  struct {
    std::mutex mutex;
    std::unordered_map<std::uint64_t, PendingCall> calls;
  } pending;
  struct {
    std::mutex mutex;
    std::unordered_map<std::string, PluginRecord> records;
  } plugins;

  std::atomic<std::uint64_t> next_call_id{1};
  std::atomic<std::uint64_t> next_conn_id{1};

  struct {
    std::mutex mutex;
    std::deque<json> log;
  } events;
  std::atomic<std::uint64_t> event_seq{0};

  std::uint16_t port = 0;
};

using StatePtr = std::shared_ptr<BridgeState>;

}  // namespace cutrelay
