// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace tessaro {

// Button and icon flags keep the values of the message box API the client was designed around,
// so a caller can pass e.g. MB_TOPMOST | MB_ICONWARNING (0x40030) unchanged.
namespace mb {
inline constexpr uint32_t kOk = 0x0;
inline constexpr uint32_t kOkCancel = 0x1;
inline constexpr uint32_t kYesNoCancel = 0x3;
inline constexpr uint32_t kYesNo = 0x4;
inline constexpr uint32_t kRetryCancel = 0x5;
inline constexpr uint32_t kIconError = 0x10;
inline constexpr uint32_t kIconQuestion = 0x20;
inline constexpr uint32_t kIconWarning = 0x30;
inline constexpr uint32_t kIconInformation = 0x40;
inline constexpr uint32_t kTopMost = 0x40000;
}  // namespace mb

// What a message box or dialog answers.
namespace answer {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kRetry = 4;
inline constexpr int kYes = 6;
inline constexpr int kNo = 7;
}  // namespace answer

struct MessageRequest {
  std::string caption;
  std::string text;
  uint32_t flags = mb::kOk;
  bool ownedByMainWindow = true;  // false for the owner-less top-most boxes
};

// A modal dialog as the core sees it: a name that identifies the form and a result code.
// The form's own state lives in its core logic class; the port only runs it.
struct DialogRequest {
  std::string dialogId;  // e.g. "TEjectDeviceDlg"
  std::string text;      // the text the dialog shows, when it has one
};

// Every modal interaction of the program goes through this port, so tests can answer them.
class UiPort {
 public:
  virtual ~UiPort() = default;
  // Shows a modal message box; returns the answer (answer::kOk, kYes, ...).
  virtual int ShowMessage(const MessageRequest& request) = 0;
  // Runs a modal dialog; returns its modal result.
  virtual int RunDialog(const DialogRequest& request) = 0;
};

}  // namespace tessaro
