// SPDX-License-Identifier: GPL-2.0-or-later
// Who gets which event record: per Trunk connection a queue of records and at most one pending
// read, and per client process a wake that waits for that process's next read.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace tessaro::busd {

inline constexpr size_t kMaxQueuedEvents = 256;

// A pending read to answer now: `record` empty means "woken" (r = 0).
struct EventDelivery {
  int connection = 0;
  std::vector<uint8_t> record;
};

class EventHub {
 public:
  void AddConnection(int connection, pid_t pid);
  void RemoveConnection(int connection);

  // An event read arrives. The answer at once (a record, or empty for a wake), or nullopt when
  // the read stays pending. The first read makes the connection a reader of every later event.
  std::optional<std::vector<uint8_t>> BeginRead(int connection);
  // A new event for every reader: pending reads are answered, the others queue it.
  std::vector<EventDelivery> Publish(const std::vector<uint8_t>& record);
  // Wakes the pending reads of `pid`'s connections; with none, the wake waits for its next read.
  std::vector<EventDelivery> Wake(pid_t pid);

  size_t QueuedFor(int connection) const;

 private:
  struct Connection {
    pid_t pid = 0;
    bool reader = false;
    bool pending = false;
    std::deque<std::vector<uint8_t>> queue;
  };
  std::map<int, Connection> connections_;
  std::set<pid_t> sleepingWakes_;
};

}  // namespace tessaro::busd
