// SPDX-License-Identifier: GPL-2.0-or-later
// The push path of the notification reader: a server-wide subscription whose events cupsd hands
// our notifier, which wakes the reader through its wake socket (CupsWake.h). With it the reader
// asks cupsd at once when something happened and otherwise only now and then; without it (the
// notifier not installed, cupsd refusing, wake-ups that never come) the reader asks often, as
// before. Used by the reading thread alone.
#pragma once

#include <cups/cups.h>

#include <chrono>
#include <string>

#include "base/FileHandle.h"

namespace tessaro {

class CupsPushWake {
 public:
  // Makes the subscription when there is none, renews it when due. False while there is no
  // working push path.
  bool Keep(http_t* http);
  // A reading that was not woken found events: the wake-up did not come. After a few of these
  // the push path is given up for good.
  void MissedWake(http_t* http);
  // Waits up to `timeout` for a wake-up or for `interrupt` to become readable; true when woken.
  bool Wait(std::chrono::milliseconds timeout, int interrupt);
  void End(http_t* http);

 private:
  bool Subscribe(http_t* http);
  bool Renew(http_t* http);
  void GiveUp(http_t* http);

  UniqueFd socket_;
  std::string name_;
  int subscription_ = 0;
  std::chrono::steady_clock::time_point renewAt_{};
  int misses_ = 0;
  bool givenUp_ = false;
};

}  // namespace tessaro
