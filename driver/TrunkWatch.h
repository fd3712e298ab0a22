// SPDX-License-Identifier: GPL-2.0-or-later
// Notices that the Trunk went away with the bus (busd restarted) and opens it again. A program
// ticks it on a timer; what losing and regaining the Trunk means for the program's own parts
// (its reader, its servers and rows) is handed back through the hooks.
#pragma once

#include <chrono>
#include <functional>

#include "driver/DriverClient.h"
#include "platform/BusTransport.h"
#include "platform/Clock.h"

namespace tessaro {

// How long a lost Trunk waits before it is opened again: the first wait, doubled after each
// failure up to the longest.
inline constexpr std::chrono::seconds kFirstTrunkReopenDelay{1};
inline constexpr std::chrono::seconds kLongestTrunkReopenDelay{30};
// How often a program ticks the watch.
inline constexpr std::chrono::milliseconds kTrunkWatchInterval{500};

class TrunkWatch {
 public:
  struct Hooks {
    // Whether the reader's reads of the Trunk fail (false when there is no reader).
    std::function<bool()> readsFailing;
    // The Trunk is gone: stop the reader and forget the servers; the watch closes the handle.
    std::function<void()> lost;
    // A new Trunk is open in the handle: start the reader on it and refresh the servers.
    std::function<void()> regained;
  };

  // `trunk` is the program's handle, replaced by the watch.
  TrunkWatch(DriverClient& driver, BusTransport& bus, Clock& clock, BusHandle& trunk, Hooks hooks);

  // A failed read alone may be passing; a Trunk that cannot list the servers is gone. A lost
  // Trunk is opened again once its wait is over.
  void Tick();
  bool Lost() const { return lost_; }

 private:
  void Lose();
  void Reopen();

  DriverClient& driver_;
  BusTransport& bus_;
  Clock& clock_;
  BusHandle& trunk_;
  Hooks hooks_;
  bool lost_ = false;
  std::chrono::steady_clock::duration reopenDelay_ = kFirstTrunkReopenDelay;
  std::chrono::steady_clock::time_point nextReopen_{};
};

}  // namespace tessaro
