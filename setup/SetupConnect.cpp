// SPDX-License-Identifier: GPL-2.0-or-later
#include "setup/SetupConnect.h"

namespace tessaro::setup {

std::optional<SetupPage> ConnectForSetup(SetupDeviceLink& device, SetupPrompts& prompts,
                                         SetupSleeper& sleeper, bool scannerLike) {
  if (!device.Link()) {
    prompts.ShowError(kLinkFailedText);
    return std::nullopt;
  }
  if (!device.Lock(kManualLockKind, kSetupLockSeconds)) {
    device.Unlink();  // a link without its lock would hold the device for nobody
    prompts.ShowError(kLinkFailedText);
    return std::nullopt;
  }
  for (int step = 0; step < 10; ++step) sleeper.Pause(std::chrono::milliseconds(200));
  return scannerLike ? SetupPage::ConnectScanner : SetupPage::Connect;
}

void ReleaseDevice(SetupDeviceLink& device, SetupPrompts& prompts) {
  if (!device.UsedByThisPc()) return;
  device.Unlock(kManualLockKind, 0);
  if (!device.Unlink()) prompts.ShowError(kUnlinkFailedText);
}

}  // namespace tessaro::setup
