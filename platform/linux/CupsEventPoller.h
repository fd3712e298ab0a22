// SPDX-License-Identifier: GPL-2.0-or-later
// One reader of IPP notifications for all the queue subscriptions of a process. cupsd has no way
// to push ippget events or to hold a Get-Notifications until one comes, so somebody must ask; one
// request for every subscription at once costs what a single queue's asking used to, however many
// queues are watched.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Spooler.h"
#include "platform/linux/CupsIpp.h"

namespace tessaro {

class CupsEventPoller {
 public:
  // `server` as CupsSpooler takes it; `interval` between two readings.
  explicit CupsEventPoller(std::string server,
                           std::chrono::milliseconds interval = std::chrono::milliseconds(200));
  ~CupsEventPoller();
  CupsEventPoller(const CupsEventPoller&) = delete;
  CupsEventPoller& operator=(const CupsEventPoller&) = delete;

  // Starts reading the events of `subscription` that come after its creation.
  void Add(int subscription);
  void Remove(int subscription);
  // Waits up to `timeout` for an event of `subscription` not yet reported, returning early once
  // `stop` is raised. Failed once the subscription cannot be read any more (cupsd went away,
  // the subscription ended with its queue); it stays failed.
  ChangeWait Wait(int subscription, std::chrono::milliseconds timeout,
                  const std::atomic<bool>& stop);

 private:
  struct Watch {
    int lastSequence = 0;
    bool changed = false;
    bool failed = false;
    // Set while a waiter waits, so that the reading thread wakes it once it is asked to stop.
    const std::atomic<bool>* stop = nullptr;
    std::condition_variable wake;
  };
  // What one reading found of one subscription.
  struct Seen {
    int lastSequence = 0;
    bool failed = false;
  };

  void Run();
  std::map<int, Seen> Read(const std::map<int, int>& lastSequences);
  // Reads `lastSequences` in one request; nullopt with `status` when cupsd refused it.
  std::optional<std::map<int, int>> ReadTogether(const std::map<int, int>& lastSequences,
                                                 ipp_status_t& status);

  const std::string server_;
  const std::chrono::milliseconds interval_;
  std::mutex mutex_;
  std::condition_variable poll_;  // wakes the reading thread
  std::map<int, Watch> watches_;
  bool quit_ = false;
  std::thread thread_;
  ipp::Http http_;  // the reading thread's own
};

}  // namespace tessaro
