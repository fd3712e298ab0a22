// SPDX-License-Identifier: GPL-2.0-or-later
// The program-wide values the refresh cycle, the driver event dispatch and the device menu read.
// The creation steps fill them in and the running program keeps them current; it holds them
// once, and everything here belongs to the main thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Product.h"
#include "platform/BusTransport.h"
#include "records/AutoConnectRecords.h"

namespace tessaro {

// Process-wide flags of the main window and the device commands.
struct ClientFlags {
  bool Closing = false;        // the close sequence has begun: waits end, events are ignored
  bool SessionEnding = false;  // the desktop session ends: thread-stop waits give up early
  bool OperationBusy = false;  // a connect, disconnect or release runs: device-list events drop
  bool NoticeBusy = false;     // a device-found notice is being shown: tray clicks are skipped
};

struct ClientState {
  // The Trunk; back to kInvalidBusHandle once the close sequence has closed it.
  BusHandle trunk = kInvalidBusHandle;
  std::string computerName;     // compared exactly with a device's owner
  std::string firstRunGateway;  // empty unless this is a first run
  std::string appKey = AppRegistryKey;
  bool notifyDeviceDetect = true;
  uint32_t windowsVersionFlags = 0;
  // The stored auto-connect lists and scanner identities, loaded by the creation steps.
  AutoLinkList autoPrinters;
  AutoLinkList autoFaxes;
  std::vector<std::string> scannerIds;
  ClientFlags flags;

  const AutoLinkList& printers() const { return autoPrinters; }
  const AutoLinkList& faxes() const { return autoFaxes; }
  const std::vector<std::string>& scanners() const { return scannerIds; }
};

}  // namespace tessaro
