// SPDX-License-Identifier: GPL-2.0-or-later
// A private cupsd for a test: its own folder, listening only on a Unix socket in that folder,
// stopped by pid when the object goes. Queues are added and changed with the CUPS tools, which
// are pointed at it through CUPS_SERVER.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/Command.h"
#include "tests/support/Process.h"

namespace tessaro::testing {

class PrivateCups {
 public:
  // `extraConfig` is appended to cupsd.conf (e.g. another <Policy>), `extraFilesConfig` to
  // cups-files.conf (e.g. SetEnv, which CUPS 2.4 takes only there).
  explicit PrivateCups(const std::string& extraConfig = {},
                       const std::string& extraFilesConfig = {});
  ~PrivateCups();
  PrivateCups(const PrivateCups&) = delete;
  PrivateCups& operator=(const PrivateCups&) = delete;

  // Whether cupsd came up and answers.
  bool Running() const { return running_; }
  const std::string& socket() const { return socket_; }
  const std::string& folder() const { return dir_.path(); }
  // A folder every user may write to, for file: queues.
  std::string OutputFolder() const { return dir_ / "out"; }

  // Runs a CUPS tool (lpadmin, lpstat, lp, cancel, cupsenable, ...) against this cupsd.
  CommandResult Tool(const std::string& program, const std::vector<std::string>& args) const;
  // Puts `program` in place of the stand-in backend `scheme`, owned by root with mode 0700, as
  // an installed backend that must run as root is; false when it cannot be copied.
  bool InstallBackend(const std::string& scheme, const std::string& program) const;
  // Puts `program` in the notifier folder as `scheme`, as an installed notifier is (the folder
  // holds no other: the system's are not needed here); false when it cannot be copied.
  bool InstallNotifier(const std::string& scheme, const std::string& program) const;
  // A raw queue on `uri`, enabled and accepting jobs. False when lpadmin refused it.
  bool AddQueue(const std::string& name, const std::string& uri) const;
  // Submits a file holding `text` to `queue`; the job's id, or -1.
  int Submit(const std::string& queue, const std::string& text) const;
  // `lpstat -p QUEUE`'s text.
  std::string QueueStatus(const std::string& queue) const;

  // Stops cupsd, so nothing answers on its socket.
  void Stop();
  // Starts it again on the same folder: queues and jobs come back.
  bool Restart();

 private:
  bool Start();

  TempDir dir_{"/tmp/tessaro-cups."};
  std::string socket_;
  std::unique_ptr<Process> cupsd_;
  bool running_ = false;
  mutable int submitted_ = 0;
};

}  // namespace tessaro::testing
