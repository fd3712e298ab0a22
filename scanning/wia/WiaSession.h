// SPDX-License-Identifier: GPL-2.0-or-later
// One Scan Now's WIA sessions: the device manager opened once, then sessions of the device
// dialog, the settings dialog and the transfer dialog, each session answering whether the user
// asked to scan again ("< Back").
#pragma once

#include <memory>
#include <string>

#include "scanning/wia/WiaDevice.h"
#include "scanning/wia/WiaSettings.h"
#include "scanning/wia/WiaTransfer.h"

namespace tessaro::wia {

inline constexpr int kScanAgain = 1;
inline constexpr int kSessionDone = -1;

// The dialogs of a session; the forms, or the command line's fixed choices.
class WiaSessionUi {
 public:
  virtual ~WiaSessionUi() = default;
  virtual DeviceDialog& DeviceDialogOf() = 0;
  // TNetWIASetFm: answer::kOk with `settings` filled, answer::kRetry or answer::kCancel.
  virtual int RunSettings(WiaScanSettings& settings) = 0;
  // TNetWIASaveFm over `job`; answer::kRetry for "< Back".
  virtual int RunTransfer(const WiaTransferJob& job) = 0;
  virtual void ShowMessage(const std::string& text) = 0;
};

class WiaScanner {
 public:
  explicit WiaScanner(WiaSessionUi& ui) : ui_(ui) {}
  // The manager must outlive the sessions; null leaves every session done at once.
  void OpenWiaDeviceManager(WiaDeviceManager* manager) { manager_ = manager; }
  int RunWiaScanSession(const std::string& deviceId);
  void ReleaseWiaSession();
  void CloseWiaDeviceManager();

 private:
  int Done();
  WiaSessionUi& ui_;
  WiaDeviceManager* manager_ = nullptr;
  std::unique_ptr<WiaRootItem> root_;
  std::unique_ptr<WiaItem> chosen_;  // goes first: it uses the device the root item owns
};

}  // namespace tessaro::wia
