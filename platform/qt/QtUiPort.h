// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QPointer>
#include <QWidget>
#include <deque>
#include <functional>
#include <map>
#include <string>

#include "platform/UiPort.h"

namespace tessaro {

// Message boxes and dialogs of the running program. With TESSARO_UI_LOG set (tests, demos), no
// box is shown: each request is appended to that file as one line and answered from
// TESSARO_UI_ANSWERS (comma-separated numbers, used in order), else with the box's first button.
class QtUiPort : public UiPort {
 public:
  QtUiPort();
  void SetMainWindow(QWidget* window) { mainWindow_ = window; }
  // The form that runs a dialog id; a dialog nobody registered is answered Cancel.
  void RegisterDialog(const std::string& dialogId, std::function<int(const DialogRequest&)> run) {
    dialogs_[dialogId] = std::move(run);
  }

  int ShowMessage(const MessageRequest& request) override;
  int RunDialog(const DialogRequest& request) override;

 private:
  int Recorded(const std::string& kind, const std::string& caption, const std::string& text,
               uint32_t flags, int defaultAnswer);

  QPointer<QWidget> mainWindow_;
  std::string logPath_;
  std::deque<int> answers_;
  std::map<std::string, std::function<int(const DialogRequest&)>> dialogs_;
};

// The first button's answer of a box with these flags (OK, Yes, Retry or OK of OK/Cancel).
int DefaultAnswer(uint32_t flags);
// One log line: kind, flags, caption and text separated by tabs; tab, newline and backslash
// inside a field are written as \t, \n and \\.
std::string UiLogLine(const std::string& kind, uint32_t flags, const std::string& caption,
                      const std::string& text);

}  // namespace tessaro
