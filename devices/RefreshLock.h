// SPDX-License-Identifier: GPL-2.0-or-later
// The wait for RefreshLock that every list refresh and server command makes: poll the named
// mutex every 200 ms while keeping the interface alive, and go on without it after 31 polls and
// sleeps (6.2 s) or once the window is closing.
#pragma once

#include <chrono>

#include "platform/Clock.h"
#include "platform/EventPump.h"
#include "platform/NamedMutex.h"

namespace tessaro {

inline constexpr const char* kRefreshLockMutexName = "RefreshServerList_QXV";
inline constexpr std::chrono::milliseconds kRefreshLockPoll{200};
inline constexpr int kRefreshLockPolls = 31;

struct ClientFlags;

// Holds RefreshLock for one scope when the wait got it; the operation runs either way.
class RefreshLockWait {
 public:
  RefreshLockWait(NamedMutex& lock, EventPump& pump, Clock& clock, const ClientFlags& flags);
  ~RefreshLockWait();
  RefreshLockWait(const RefreshLockWait&) = delete;
  RefreshLockWait& operator=(const RefreshLockWait&) = delete;
  bool granted() const { return granted_; }

 private:
  NamedMutex& lock_;
  bool granted_ = false;
};

}  // namespace tessaro
