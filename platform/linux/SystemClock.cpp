// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/linux/SystemClock.h"

#include <thread>

namespace tessaro {

std::chrono::steady_clock::time_point SystemClock::Now() const {
  return std::chrono::steady_clock::now();
}

std::chrono::system_clock::time_point SystemClock::WallNow() const {
  return std::chrono::system_clock::now();
}

void SystemClock::Sleep(Duration duration) { std::this_thread::sleep_for(duration); }

}  // namespace tessaro
