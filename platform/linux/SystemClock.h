// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "platform/Clock.h"

namespace tessaro {

class SystemClock : public Clock {
 public:
  std::chrono::steady_clock::time_point Now() const override;
  std::chrono::system_clock::time_point WallNow() const override;
  void Sleep(Duration duration) override;
};

}  // namespace tessaro
