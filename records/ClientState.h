// SPDX-License-Identifier: GPL-2.0-or-later
// The program-wide values the refresh cycle, the driver event dispatch and the device menu read.
// The main window fills them in after its creation steps and keeps them current; everything
// here belongs to the main thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Product.h"
#include "records/AutoConnectRecords.h"
#include "platform/BusTransport.h"

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
  // The auto-connect lists and scanner identities, owned elsewhere; null reads as empty.
  const AutoLinkList* autoPrinters = nullptr;
  const AutoLinkList* autoFaxes = nullptr;
  const std::vector<std::string>* scannerIds = nullptr;
  ClientFlags flags;

  const AutoLinkList& printers() const { return autoPrinters ? *autoPrinters : Empty(); }
  const AutoLinkList& faxes() const { return autoFaxes ? *autoFaxes : Empty(); }
  const std::vector<std::string>& scanners() const {
    static const std::vector<std::string> none;
    return scannerIds ? *scannerIds : none;
  }

 private:
  static const AutoLinkList& Empty() {
    static const AutoLinkList none;
    return none;
  }
};

}  // namespace tessaro
