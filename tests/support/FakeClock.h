// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/Clock.h"

namespace tessaro::testing {

// Time stands still until a test advances it; Sleep advances it by the requested amount at once
// and records the sleep, so a test sees the waits a piece of code made without spending them.
class FakeClock : public Clock {
 public:
  std::chrono::steady_clock::time_point Now() const override;
  std::chrono::system_clock::time_point WallNow() const override;
  void Sleep(Duration duration) override;

  void Advance(Duration duration);
  std::vector<Duration> sleeps() const;
  Duration slept() const;  // sum of every sleep
  // Runs on every Sleep, after time has advanced (e.g. to change a fake's state mid-wait).
  void OnSleep(std::function<void(Duration)> hook);

 private:
  mutable std::mutex mutex_;
  Duration elapsed_{0};
  std::vector<Duration> sleeps_;
  std::function<void(Duration)> hook_;
};

}  // namespace tessaro::testing
