// SPDX-License-Identifier: GPL-2.0-or-later
// What the device commands hand to the spooler, the shell and the user, recorded together with
// whether a device command was running (OperationBusy) at that moment.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/Shell.h"
#include "platform/Spooler.h"
#include "records/ClientState.h"
#include "tests/support/ScriptedUi.h"

namespace tessaro::testing {

// A spooler without printers that records the holds asked of it.
class RecordingSpooler : public UnboundSpooler {
 public:
  explicit RecordingSpooler(const ClientFlags& flags) : flags_(flags) {}
  struct Hold {
    std::string printer;
    QueueHold hold;
    bool busy;
    bool operator==(const Hold&) const = default;
  };
  bool SetQueueHold(const std::string& printerName, QueueHold hold) override {
    holds.push_back({printerName, hold, flags_.OperationBusy});
    return true;
  }
  std::vector<Hold> holds;

 private:
  const ClientFlags& flags_;
};

class RecordingShell : public Shell {
 public:
  bool OpenUrl(const std::string& url) override {
    if (onOpen) onOpen();
    opened.push_back(url);
    return true;
  }
  std::vector<std::string> opened;
  std::function<void()> onOpen;
};

// A scripted user who may do something (or let events run) while a box or dialog is open.
class OperationUi : public ScriptedUi {
 public:
  explicit OperationUi(const ClientFlags& flags) : flags_(flags) {}
  int ShowMessage(const MessageRequest& request) override {
    busyDuringMessage.push_back(flags_.OperationBusy);
    return ScriptedUi::ShowMessage(request);
  }
  int RunDialog(const DialogRequest& request) override {
    busyDuringDialog.push_back(flags_.OperationBusy);
    if (whileDialogOpen) whileDialogOpen();
    return ScriptedUi::RunDialog(request);
  }
  std::vector<bool> busyDuringMessage;
  std::vector<bool> busyDuringDialog;
  std::function<void()> whileDialogOpen;  // runs as the dialog's own event processing would

 private:
  const ClientFlags& flags_;
};

}  // namespace tessaro::testing
