// SPDX-License-Identifier: GPL-2.0-or-later
#include "driver/TrunkWatch.h"

#include <algorithm>
#include <vector>

namespace tessaro {

TrunkWatch::TrunkWatch(DriverClient& driver, BusTransport& bus, Clock& clock, BusHandle& trunk,
                       Hooks hooks)
    : driver_(driver), bus_(bus), clock_(clock), trunk_(trunk), hooks_(std::move(hooks)) {}

void TrunkWatch::Tick() {
  if (!lost_) {
    if (!hooks_.readsFailing()) return;
    std::vector<ServerEntry> servers;
    if (driver_.GetServerList(trunk_, servers) >= 0) return;
    Lose();
    return;
  }
  if (clock_.Now() < nextReopen_) return;
  Reopen();
}

void TrunkWatch::Lose() {
  lost_ = true;
  hooks_.lost();
  bus_.Close(trunk_);
  trunk_ = kInvalidBusHandle;
  // Counted from here: stopping the reader may have waited.
  reopenDelay_ = kFirstTrunkReopenDelay;
  nextReopen_ = clock_.Now() + reopenDelay_;
}

void TrunkWatch::Reopen() {
  const BusHandle trunk = driver_.OpenTrunk();
  if (trunk == kInvalidBusHandle) {
    reopenDelay_ =
        std::min<std::chrono::steady_clock::duration>(reopenDelay_ * 2, kLongestTrunkReopenDelay);
    nextReopen_ = clock_.Now() + reopenDelay_;
    return;
  }
  trunk_ = trunk;
  lost_ = false;
  hooks_.regained();
}

}  // namespace tessaro
