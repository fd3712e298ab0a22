// SPDX-License-Identifier: GPL-2.0-or-later
// One copy per user session: the first copy holds the named mutex "Corvana" for its whole run
// and listens beside it; a second copy asks it to show its window and ends.
#pragma once

#include <QLocalServer>
#include <functional>
#include <memory>
#include <string>

#include "platform/linux/FileNamedMutex.h"

namespace tessaro {

// What a second copy sends: the tray callback's "show yourself" value.
inline constexpr const char* kShowRequest = "119\n";

class SingleInstance {
 public:
  explicit SingleInstance(const std::string& title, std::string directory = NamedMutexDirectory());

  // False when another copy holds the name. Without a usable lock folder the name cannot be
  // held by anyone, and this copy runs on its own (Usable() tells).
  bool Claim();
  bool Usable() const { return mutex_.Valid(); }

  // Once the main window exists: calls `onShow` for each show request of a later copy.
  void Listen(std::function<void()> onShow);

  // From a second copy: hands the user over to the running one. Retries for a short while, as
  // the first copy may still be starting; false when it never answered.
  bool AskRunningCopyToShow() const;

 private:
  FileNamedMutex mutex_;
  std::string socketPath_;
  std::unique_ptr<QLocalServer> server_;
};

}  // namespace tessaro
