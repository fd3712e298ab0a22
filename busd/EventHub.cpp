// SPDX-License-Identifier: GPL-2.0-or-later
#include "busd/EventHub.h"

#include <algorithm>

namespace tessaro::busd {

void EventHub::AddConnection(int connection, pid_t pid) { connections_[connection].pid = pid; }

void EventHub::RemoveConnection(int connection) {
  const auto it = connections_.find(connection);
  if (it == connections_.end()) return;
  const pid_t pid = it->second.pid;
  connections_.erase(it);
  const bool pidStillHere = std::any_of(connections_.begin(), connections_.end(),
                                        [pid](const auto& c) { return c.second.pid == pid; });
  // A kept wake belongs to a process; once it has no connection left, nobody can collect it
  // (and a new process may later reuse the id).
  if (!pidStillHere) sleepingWakes_.erase(pid);
}

std::optional<std::vector<uint8_t>> EventHub::BeginRead(int connection) {
  const auto it = connections_.find(connection);
  if (it == connections_.end()) return std::vector<uint8_t>{};
  Connection& c = it->second;
  c.reader = true;
  if (sleepingWakes_.erase(c.pid) > 0) return std::vector<uint8_t>{};
  if (!c.queue.empty()) {
    std::vector<uint8_t> record = std::move(c.queue.front());
    c.queue.pop_front();
    return record;
  }
  c.pending = true;
  return std::nullopt;
}

std::vector<EventDelivery> EventHub::Publish(const std::vector<uint8_t>& record) {
  std::vector<EventDelivery> deliveries;
  for (auto& [id, c] : connections_) {
    if (!c.reader) continue;
    if (c.pending) {
      c.pending = false;
      deliveries.push_back({id, record});
      continue;
    }
    if (c.queue.size() == kMaxQueuedEvents) c.queue.pop_front();
    c.queue.push_back(record);
  }
  return deliveries;
}

std::vector<EventDelivery> EventHub::Wake(pid_t pid) {
  std::vector<EventDelivery> deliveries;
  for (auto& [id, c] : connections_) {
    if (c.pid != pid || !c.pending) continue;
    c.pending = false;
    deliveries.push_back({id, {}});
  }
  if (deliveries.empty()) sleepingWakes_.insert(pid);
  return deliveries;
}

size_t EventHub::QueuedFor(int connection) const {
  const auto it = connections_.find(connection);
  return it == connections_.end() ? 0 : it->second.queue.size();
}

}  // namespace tessaro::busd
