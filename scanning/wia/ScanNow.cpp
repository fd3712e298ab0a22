// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/wia/ScanNow.h"

#include "autoconnect/AutoConnectStore.h"
#include "base/Product.h"
#include "host/WindowsVersion.h"
#include "scanning/wia/ScannerLookup.h"

namespace tessaro {

bool UsesTwainPath(uint32_t windowsVersionFlags) { return IsOlderWindows(windowsVersionFlags); }

ScanNowOutcome ScanNow::Run(const DeviceData& row, ScanPaths& paths) {
  if (busy_) return ScanNowOutcome::Ignored;
  busy_ = true;
  // Every way out clears the flag, a throwing path included.
  struct Clear {
    bool& flag;
    ~Clear() { flag = false; }
  } clear{busy_};
  return Scan(row, paths);
}

void ScanNow::Say(const std::string& text, bool topMostBox) {
  MessageRequest request{ProductName, text, mb::kOk, true};
  if (topMostBox) {
    request.flags = mb::kOk | mb::kIconWarning | mb::kTopMost;
    request.ownedByMainWindow = false;
  }
  services_.ui.ShowMessage(request);
}

ScanNowOutcome ScanNow::Scan(const DeviceData& row, ScanPaths& paths) {
  if (row.handle == kInvalidBusHandle) return ScanNowOutcome::Ignored;
  DeviceDriverInfo drivers;
  const uint32_t flags =
      LookupDeviceDrivers(services_.machineHive, row.vendorId, row.productId, row.serial, drivers);
  if ((flags & devclass::kScanner) == 0) {
    Say(scannow::kNotScanner, true);
    return ScanNowOutcome::NotScanner;
  }
  const auto entry = ReadStoredDeviceEntry(services_.userHive, services_.appKey, row);
  const std::string scanNameTwain = entry ? entry->ScanNameTwain : "";
  const bool twain = UsesTwainPath(services_.windowsVersionFlags);
  if (twain && !paths.TwainReady()) {
    Say(scannow::SNo_TWAIN_Driver, false);
    return ScanNowOutcome::NoTwain;
  }
  struct Cursor {
    const std::function<void(bool)>& set;
    explicit Cursor(const std::function<void(bool)>& s) : set(s) {
      if (set) set(true);
    }
    ~Cursor() {
      if (set) set(false);
    }
  } cursor(services_.busyCursor);

  DriverClient& driver = services_.driver;
  if (row.owner != services_.computerName && !driver.LinkDevice(row.handle, row.deviceNumber)) {
    Say(scannow::SFail_Link, false);
    return ScanNowOutcome::LinkFailed;
  }
  if (!driver.LockDevice(row.handle, row.deviceNumber, LockKind::Automatic,
                         scannow::kScanLockSeconds)) {
    Say(std::string(scannow::SFail_Link) + "!", false);
    return ScanNowOutcome::LockFailed;
  }
  const DeviceData snapshot = services_.findRowAgain(row).value_or(row);
  for (int step = 0; step < services_.settleSteps; ++step) {
    services_.pump.ProcessPendingEvents();
    services_.clock.Sleep(scannow::kSettleStep);
  }
  bool dropLock = true;
  if (twain) {
    bool lockHeld = true;
    if (paths.RunTwain(snapshot, scanNameTwain, lockHeld)) {
      dropLock = lockHeld;
    } else {
      Say(scannow::kNoScanDriver, false);
    }
  } else {
    paths.RunWia(snapshot, drivers.WiaDeviceId);
  }
  if (dropLock) Release(snapshot);
  return ScanNowOutcome::Scanned;
}

void ScanNow::Release(const DeviceData& snapshot) {
  const auto now = services_.findRowAgain(snapshot);
  if (!now || now->owner != services_.computerName) return;
  services_.driver.UnlockDevice(now->handle, now->deviceNumber, LockKind::Automatic, 0);
}

}  // namespace tessaro
