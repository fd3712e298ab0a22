// SPDX-License-Identifier: GPL-2.0-or-later
// What a print monitor does, as it does it, for whoever watches the monitors (the command line's
// `monitor`). Reports come from the monitors' own threads.
#pragma once

#include <string>

namespace tessaro {

struct MonitorAction {
  std::string queue;
  std::string action;  // hold, park, release, link, link-failed, lock, unlock, port-refused, ended
  std::string serverMac;
  std::string deviceNumber;  // "-1" while the device is not found
};

class MonitorActionSink {
 public:
  virtual ~MonitorActionSink() = default;
  // Called on a monitor's thread; must be safe to call from several at once.
  virtual void Report(const MonitorAction& action) = 0;
};

}  // namespace tessaro
