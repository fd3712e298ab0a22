// SPDX-License-Identifier: GPL-2.0-or-later
#include "devices/RefreshLock.h"

#include "records/ClientState.h"

namespace tessaro {

RefreshLockWait::RefreshLockWait(NamedMutex& lock, EventPump& pump, Clock& clock,
                                 const ClientFlags& flags)
    : lock_(lock) {
  granted_ = lock_.TryLock();
  for (int sleeps = 1; !granted_; ++sleeps) {
    pump.ProcessPendingEvents();
    clock.Sleep(kRefreshLockPoll);
    if (sleeps >= kRefreshLockPolls || flags.Closing) return;
    granted_ = lock_.TryLock();
  }
}

RefreshLockWait::~RefreshLockWait() {
  if (granted_) lock_.Unlock();
}

}  // namespace tessaro
