// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace tessaro {

// How a print queue treats its jobs. Held and parked queues keep new jobs waiting; a released
// queue prints them.
enum class QueueHold {
  Held,      // working offline and paused
  Parked,    // working offline, not paused
  Released,  // online, not paused
};

// The print spooler as the device commands see it: a queue bound to an auto-connect device is
// released after a manual Connect and parked after a manual Disconnect.
class Spooler {
 public:
  virtual ~Spooler() = default;
  // Opens the queue `printerName` with full access, puts it in `hold` and closes it again. False,
  // with nothing changed, when the queue cannot be opened or its state cannot be read.
  virtual bool SetQueueHold(const std::string& printerName, QueueHold hold) = 0;
};

// A spooler without queues bound to devices: there is never one to hold or release, so every
// request answers "not changed".
class UnboundSpooler : public Spooler {
 public:
  bool SetQueueHold(const std::string&, QueueHold) override { return false; }
};

}  // namespace tessaro
