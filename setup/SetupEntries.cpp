// SPDX-License-Identifier: GPL-2.0-or-later
#include "setup/SetupEntries.h"

namespace tessaro::setup {
namespace {

AutoConnectInfo IdentityOnly(const SetupDeviceIdentity& device) {
  AutoConnectInfo entry;
  entry.ServerIP = device.serverIp;
  entry.ServerMAC = device.serverMac;
  entry.DeviceVid = device.vendorId;
  entry.DevicePid = device.productId;
  entry.DeviceSNo = device.serial;
  return entry;
}

}  // namespace

bool PrinterIsSetUp(const std::optional<AutoConnectInfo>& entry) {
  return entry && !entry->PrinterName.empty() && entry->PrinterEnable != 0;
}

bool ScannerIsSetUp(const std::optional<AutoConnectInfo>& entry) {
  return entry && entry->ScanIndex == 1;
}

AutoConnectInfo PrinterEntryAfterSetup(const SetupDeviceIdentity& device, bool printerEnabled,
                                       const ChoiceEntry& printer) {
  AutoConnectInfo entry = IdentityOnly(device);
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
  AutoConnectInfo entry = IdentityOnly(device);
  entry.ScanIndex = scanIndex;
  entry.ScanNameTwain = scanName;
  return entry;
}

std::string ScannerIdText(const std::string& vendorId, const std::string& productId) {
  return "Vid_" + vendorId + "&Pid_" + productId;
}

bool ReleaseAfterRun(bool wasSetUp, bool olderWindows) { return !wasSetUp || olderWindows; }

}  // namespace tessaro::setup
