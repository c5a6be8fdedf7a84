#pragma once
// The registry of connected plug-ins and the table of calls waiting for a result. Only the
// bridge's one I/O thread touches it, so nothing here locks.
//
// The table of calls is one for all connections, not one per connection: a plug-in that
// reconnects (Premiere reloaded it) may answer, by id, calls filed on its old connection.
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/json_util.hpp"
#include "hub/call_slot.hpp"
#include "hub/outbox.hpp"

namespace cutrelay {

using Clock = std::chrono::steady_clock;

// The two in-app components that dial the bridge.
enum class PluginRuntime : std::uint8_t { Uxp, Cep };

// "uxp" or "cep", as they appear in hellos, logs and answers.
std::string_view runtime_name(PluginRuntime runtime);
// The runtime a text names; nothing for any other text.
std::optional<PluginRuntime> runtime_named(std::string_view name);

struct PluginRecord {
  PluginRuntime runtime = PluginRuntime::Uxp;
  Clock::time_point connected_at;
  json hello;  // as received, amended by hello updates
  std::shared_ptr<Outbox> outbox;
  std::uint64_t conn_id = 0;
};

class PluginRegistry {
 public:
  // Files a hello's record under its runtime, replacing whatever was filed there. When
  // that was another connection's record and the other connection now holds none, its
  // outbox is returned: that connection is superseded.
  std::shared_ptr<Outbox> file(PluginRecord record);

  bool is_connected(PluginRuntime runtime) const;

  // A copy of the stored hello and the whole seconds since it was filed.
  std::optional<std::pair<json, std::uint64_t>> hello_of(PluginRuntime runtime) const;

  // The outbox and connection id of the plug-in filed under `runtime`.
  std::optional<std::pair<std::shared_ptr<Outbox>, std::uint64_t>> lookup(
      PluginRuntime runtime) const;

  // Merges `fields` into the hello stored for `conn_id` (one record, the first met, when
  // the connection holds both runtimes). Nothing happens before the hello.
  void amend_hello(std::uint64_t conn_id, const json& fields);

  // Unregisters a connection that ended. When it held a record, its waiting calls are
  // failed at once; a superseded connection's calls are left to their time-out, since the
  // plug-in that replaced it may share the same Premiere and still answer by id.
  std::vector<PluginRuntime> end_connection(std::uint64_t conn_id);

  // Files call `id` for the plug-in of `runtime` and queues its text. False (nothing
  // filed) when no plug-in is registered or its connection's writer has stopped.
  bool file_call(PluginRuntime runtime, std::uint64_t id, const std::shared_ptr<CallSlot>& slot,
                 std::shared_ptr<const std::string> text);

  // Removes call `id` and returns its slot (the reader delivering a result), or nothing.
  std::shared_ptr<CallSlot> take_call(std::uint64_t id);

  // Removes call `id` if it is still filed.
  void forget_call(std::uint64_t id);

  bool is_pending(std::uint64_t id) const;
  std::size_t pending_count() const;

 private:
  struct PendingCall {
    std::uint64_t conn_id = 0;
    std::shared_ptr<CallSlot> slot;
  };

  std::array<std::optional<PluginRecord>, 2> plugins_;  // indexed by PluginRuntime
  std::unordered_map<std::uint64_t, PendingCall> pending_;
};

}  // namespace cutrelay
