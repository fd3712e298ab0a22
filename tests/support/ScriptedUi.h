// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <deque>
#include <mutex>
#include <vector>

#include "platform/UiPort.h"

namespace tessaro::testing {

// Records every message box and dialog and answers with the next scripted answer; with no
// answer queued a message box answers OK and a dialog answers Cancel. Never blocks.
class ScriptedUi : public UiPort {
 public:
  int ShowMessage(const MessageRequest& request) override;
  int RunDialog(const DialogRequest& request) override;

  void QueueAnswer(int answer);
  std::vector<MessageRequest> messages() const;
  std::vector<DialogRequest> dialogs() const;

 private:
  int NextAnswer(int fallback);
  mutable std::mutex mutex_;
  std::deque<int> answers_;
  std::vector<MessageRequest> messages_;
  std::vector<DialogRequest> dialogs_;
};

}  // namespace tessaro::testing
