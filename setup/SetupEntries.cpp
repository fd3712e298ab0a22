// SPDX-License-Identifier: GPL-2.0-or-later
#include "setup/SetupEntries.h"

namespace tessaro::setup {
bool PrinterIsSetUp(const std::optional<AutoConnectInfo>& entry) {
  return entry && !entry->PrinterName.empty() && entry->PrinterEnable != 0;
}

bool ScannerIsSetUp(const std::optional<AutoConnectInfo>& entry) {
  return entry && entry->ScanIndex == 1;
}

AutoConnectInfo PrinterEntryAfterSetup(const SetupDeviceIdentity& device, bool printerEnabled,
                                       const ChoiceEntry& printer) {
  AutoConnectInfo entry = AutoConnectInfo::For(device.key);
  entry.ServerName = device.serverName;
  entry.DeviceType = device.type;
  entry.DeviceManufacturer = device.manufacturer;
  entry.DeviceProduct = device.product;
  entry.PrinterEnable = printerEnabled ? 1 : 0;
  entry.PrinterName = printer.printerName;
  entry.PrinterPort = printer.printerPort;
  return entry;
}

AutoConnectInfo ScannerEntryAfterSetup(const SetupDeviceIdentity& device, int scanIndex,
                                       const std::string& scanName) {
  AutoConnectInfo entry = AutoConnectInfo::For(device.key);
  entry.ScanIndex = scanIndex;
  entry.ScanNameTwain = scanName;
  return entry;
}

bool ReleaseAfterRun(bool wasSetUp, bool olderWindows) { return !wasSetUp || olderWindows; }

}  // namespace tessaro::setup
