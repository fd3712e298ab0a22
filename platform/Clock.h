// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <chrono>

namespace tessaro {

// Time and sleeps go through this so tests never spend real seconds.
class Clock {
 public:
  using Duration = std::chrono::milliseconds;
  virtual ~Clock() = default;
  // Monotonic time, for waits and time-outs.
  virtual std::chrono::steady_clock::time_point Now() const = 0;
  // Wall-clock time, for date-time values the program stores or compares.
  virtual std::chrono::system_clock::time_point WallNow() const = 0;
  virtual void Sleep(Duration duration) = 0;
};

}  // namespace tessaro
