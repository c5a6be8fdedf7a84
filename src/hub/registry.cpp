#include "hub/registry.hpp"

#include <algorithm>

namespace cutrelay {

std::string_view runtime_name(PluginRuntime runtime) {
  return runtime == PluginRuntime::Cep ? "cep" : "uxp";
}

std::optional<PluginRuntime> runtime_named(std::string_view name) {
  if (name == "uxp") return PluginRuntime::Uxp;
  if (name == "cep") return PluginRuntime::Cep;
  return std::nullopt;
}

namespace {
std::size_t slot_of(PluginRuntime runtime) { return static_cast<std::size_t>(runtime); }
}  // namespace

std::shared_ptr<Outbox> PluginRegistry::file(PluginRecord record) {
  auto& entry = plugins_[slot_of(record.runtime)];
  std::optional<PluginRecord> replaced = std::move(entry);
  const std::uint64_t conn_id = record.conn_id;
  entry = std::move(record);
  if (replaced && replaced->conn_id != conn_id &&
      std::none_of(plugins_.begin(), plugins_.end(), [&](const auto& other) {
        return other && other->conn_id == replaced->conn_id;
      })) {
    return replaced->outbox;
  }
  return nullptr;
}

bool PluginRegistry::is_connected(PluginRuntime runtime) const {
  return plugins_[slot_of(runtime)].has_value();
}

std::optional<std::pair<json, std::uint64_t>> PluginRegistry::hello_of(
    PluginRuntime runtime) const {
  const auto& entry = plugins_[slot_of(runtime)];
  if (!entry) return std::nullopt;
  const auto age =
      std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - entry->connected_at);
  return std::pair{entry->hello, static_cast<std::uint64_t>(std::max<std::int64_t>(0, age.count()))};
}

std::optional<std::pair<std::shared_ptr<Outbox>, std::uint64_t>> PluginRegistry::lookup(
    PluginRuntime runtime) const {
  const auto& entry = plugins_[slot_of(runtime)];
  if (!entry) return std::nullopt;
  return std::pair{entry->outbox, entry->conn_id};
}

void PluginRegistry::amend_hello(std::uint64_t conn_id, const json& fields) {
  for (auto& entry : plugins_) {
    if (!entry || entry->conn_id != conn_id) continue;
    if (fields.is_object() && entry->hello.is_object()) {
      for (const auto& [key, value] : fields.items()) entry->hello[key] = value;
    }
    return;
  }
}

std::vector<PluginRuntime> PluginRegistry::end_connection(std::uint64_t conn_id) {
  std::vector<PluginRuntime> removed;
  for (auto& entry : plugins_) {
    if (entry && entry->conn_id == conn_id) {
      removed.push_back(entry->runtime);
      entry.reset();
    }
  }
  if (removed.empty()) return removed;
  // A closed slot only wakes its waiter later, from the executor's queue.
  std::erase_if(pending_, [conn_id](const auto& item) {
    if (item.second.conn_id != conn_id) return false;
    item.second.slot->close();
    return true;
  });
  return removed;
}

bool PluginRegistry::file_call(PluginRuntime runtime, std::uint64_t id,
                               const std::shared_ptr<CallSlot>& slot,
                               std::shared_ptr<const std::string> text) {
  const auto& entry = plugins_[slot_of(runtime)];
  if (!entry || !entry->outbox->push(std::move(text), slot)) return false;
  pending_.insert_or_assign(id, PendingCall{entry->conn_id, slot});
  return true;
}

std::shared_ptr<CallSlot> PluginRegistry::take_call(std::uint64_t id) {
  const auto it = pending_.find(id);
  if (it == pending_.end()) return nullptr;
  auto slot = std::move(it->second.slot);
  pending_.erase(it);
  return slot;
}

void PluginRegistry::forget_call(std::uint64_t id) { pending_.erase(id); }

bool PluginRegistry::is_pending(std::uint64_t id) const { return pending_.contains(id); }

std::size_t PluginRegistry::pending_count() const { return pending_.size(); }

}  // namespace cutrelay
