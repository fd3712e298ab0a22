// SPDX-License-Identifier: GPL-2.0-or-later
// Writes device records into the device database on a thread of its own, so the poll loop never
// waits on the hive. Every user may read the machine hive, and while one holds a read transaction
// a write waits out the registry's busy time-out and then fails. A record that was not written
// stays queued and is tried again every kRetryInterval until it is; a newer record for the same
// device replaces a queued one, so the queue holds at most one record per device. Records still
// queued when busd stops are dropped: the next link writes them again.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "base/Logger.h"
#include "busd/DeviceKeys.h"
#include "platform/Registry.h"

namespace tessaro::busd {

class DeviceWriter {
 public:
  static constexpr auto kRetryInterval = std::chrono::milliseconds(500);

  DeviceWriter(Registry& registry, const Logger& log);
  ~DeviceWriter();
  DeviceWriter(const DeviceWriter&) = delete;
  DeviceWriter& operator=(const DeviceWriter&) = delete;

  // Queues the record and returns at once. `what` names the device in the log lines.
  void Add(DeviceRecord record, std::string what);
  // Waits at most `limit` for the device's queued record to be written; true once it is.
  bool WaitWritten(const std::string& instanceId, std::chrono::milliseconds limit);

 private:
  struct Entry {
    DeviceRecord record;
    std::string what;
    bool failureLogged = false;
  };

  void Run();

  Registry& registry_;
  const Logger& log_;
  std::mutex mutex_;
  std::condition_variable wake_;        // for the thread: a record came, or stop
  std::condition_variable written_;     // for WaitWritten: an attempt ended
  std::map<std::string, Entry> queue_;  // by instance ID
  std::string writing_;                 // the record being written, out of queue_ meanwhile
  bool stop_ = false;
  std::thread thread_;  // last: starts once the members it uses exist
};

}  // namespace tessaro::busd
