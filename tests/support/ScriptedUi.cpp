// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/support/ScriptedUi.h"

namespace tessaro::testing {

int ScriptedUi::NextAnswer(int fallback) {
  if (answers_.empty()) return fallback;
  const int a = answers_.front();
  answers_.pop_front();
  return a;
}

int ScriptedUi::ShowMessage(const MessageRequest& request) {
  std::lock_guard lock(mutex_);
  messages_.push_back(request);
  return NextAnswer(answer::kOk);
}

int ScriptedUi::RunDialog(const DialogRequest& request) {
  std::lock_guard lock(mutex_);
  dialogs_.push_back(request);
  return NextAnswer(answer::kCancel);
}

void ScriptedUi::QueueAnswer(int answer) {
  std::lock_guard lock(mutex_);
  answers_.push_back(answer);
}

std::vector<MessageRequest> ScriptedUi::messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

std::vector<DialogRequest> ScriptedUi::dialogs() const {
  std::lock_guard lock(mutex_);
  return dialogs_;
}

}  // namespace tessaro::testing
