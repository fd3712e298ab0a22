// SPDX-License-Identifier: GPL-2.0-or-later
#include "records/StateText.h"

#include "records/DeviceTypes.h"

namespace tessaro {

std::string statetext::UseBy(const std::string& owner) { return " - Use By (" + owner + ")"; }

bool NeedsSetup(const DeviceData& device, const std::vector<std::string>& scannerIds) {
  if (IsType(device.type, devtype::kScanner)) {
    return !InScannerIdList(ScannerIdentityText(device.vendorId, device.productId), scannerIds);
  }
  return device.autoPrinterIndex == -1;
}

std::string DeviceStateText(const DeviceData& device, const std::vector<std::string>& scannerIds,
                            const std::string& computerName) {
  if (NeedsSetup(device, scannerIds)) {
    return device.lockCount == 0 ? statetext::kWaiting : statetext::UseBy(device.owner);
  }
  if (device.lockCount == 0) return statetext::kAvailable;
  if (device.owner != computerName) return statetext::UseBy(device.owner);
  // This PC's own automatic lock (a print or a scan in progress) leaves the device usable.
  return device.LockedAs(LockKind::Manual) ? statetext::UseBy(device.owner) : statetext::kAvailable;
}

}  // namespace tessaro
