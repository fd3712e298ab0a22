// SPDX-License-Identifier: GPL-2.0-or-later
// What the wizard's two openings read from and write into a device's stored entry.
#pragma once

#include <optional>
#include <string>

#include "records/AutoConnectRecords.h"
#include "records/DeviceKey.h"
#include "setup/PrinterChoice.h"

namespace tessaro::setup {

struct SetupDeviceIdentity {
  std::string serverName;
  DeviceKey key;
  std::string type;
  std::string manufacturer;
  std::string product;
};

// A printer counts as set up once it has an enabled printer; a scanner once it scans through us.
bool PrinterIsSetUp(const std::optional<AutoConnectInfo>& entry);
bool ScannerIsSetUp(const std::optional<AutoConnectInfo>& entry);

// The printer opening writes a fresh entry: identity, device words and the chosen printer only.
AutoConnectInfo PrinterEntryAfterSetup(const SetupDeviceIdentity& device, bool printerEnabled,
                                       const ChoiceEntry& printer);

// The scanner opening keeps only the identity and the scan choice.
AutoConnectInfo ScannerEntryAfterSetup(const SetupDeviceIdentity& device, int scanIndex,
                                       const std::string& scanName);

// A set-up device stays linked on later Windows; every other run lets the device go again.
bool ReleaseAfterRun(bool wasSetUp, bool olderWindows);

}  // namespace tessaro::setup
