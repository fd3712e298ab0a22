// SPDX-License-Identifier: GPL-2.0-or-later
// Bringing the device to this PC for the wizard, and letting it go at the end of a run.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "setup/SetupPages.h"

namespace tessaro::setup {

inline constexpr const char* kLinkFailedText = "Connect device failed !";
inline constexpr const char* kUnlinkFailedText = "Disconnect device failed !";
inline constexpr int kManualLockKind = 2;
inline constexpr int kSetupLockSeconds = 3600;

// The device as the wizard drives it through the driver client.
class SetupDeviceLink {
 public:
  virtual ~SetupDeviceLink() = default;
  virtual bool Link() = 0;
  virtual bool Lock(int kind, int seconds) = 0;
  virtual bool Unlock(int kind, int seconds) = 0;
  virtual bool Unlink() = 0;
  virtual bool UsedByThisPc() = 0;
};

// Messages the form shows; tests script them.
class SetupPrompts {
 public:
  virtual ~SetupPrompts() = default;
  virtual void ShowError(const std::string& text) = 0;
};

// The pause after linking, in steps so the form keeps handling events.
class SetupSleeper {
 public:
  virtual ~SetupSleeper() = default;
  virtual void Pause(std::chrono::milliseconds step) = 0;
};

// Links and locks the device, waits for the system to see it, and returns the page to show;
// nothing (stay on the page) when the device cannot be had.
std::optional<SetupPage> ConnectForSetup(SetupDeviceLink& device, SetupPrompts& prompts,
                                         SetupSleeper& sleeper, bool scannerLike);

// Lets the device go when this PC holds it.
void ReleaseDevice(SetupDeviceLink& device, SetupPrompts& prompts);

}  // namespace tessaro::setup
