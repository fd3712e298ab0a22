// SPDX-License-Identifier: GPL-2.0-or-later
// The device menu as data: which items a selected row offers, with captions, images and states.
// The view builds its menu from the list and sends the chosen command id back to the commands.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "autoconnect/AutoConnectStore.h"
#include "platform/Registry.h"
#include "records/AutoConnectRecords.h"
#include "records/Records.h"

namespace tessaro {

class DeviceListModel;
struct ClientState;

enum class DeviceCommand {
  None,  // a separator
  PrintManageDevice,
  ScanManageDevice,
  ScanNow,
  Connect,
  Disconnect,
  RequestToUse,
};

struct DeviceMenuItem {
  std::string name;  // the item's fixed name, e.g. "ConnectMItem"
  DeviceCommand command = DeviceCommand::None;
  std::string caption;  // "-" for a separator
  int imageIndex = -1;  // in the 20-pixel menu image list; -1 none
  bool visible = true;
  bool enabled = true;
  bool checked = false;
};

// The menu for device `d`, in item order: PrintManageDevMItem, ScanManageDevMItem, N2,
// ScanNowMItem, N6, ConnectMItem, DisconnectMItem, RequestUseMItem. `storedEntry` is the device's
// stored entry (ReadDeviceEntry), nullopt when it has none; `windowsVersionFlags` picks the
// scanner rule of older Windows.
std::vector<DeviceMenuItem> DeviceMenuItems(const DeviceData& d,
                                            const std::optional<AutoConnectInfo>& storedEntry,
                                            const std::string& computerName,
                                            uint32_t windowsVersionFlags);

// A printer or MFP scans through this client when its stored entry binds an enabled printer and
// chose scanning here (on older Windows also naming its TWAIN source). Scan Now and the double
// click both ask this.
bool StoredEntryOffersScan(const std::optional<AutoConnectInfo>& storedEntry,
                           uint32_t windowsVersionFlags);

// Double click on a row: true when it runs Scan Now (a scanner, or a printer or MFP whose
// stored entry offers scanning).
bool QuickScanRuns(const DeviceData& d, const std::optional<AutoConnectInfo>& storedEntry,
                   uint32_t windowsVersionFlags);

// Everything that happens before the menu pops up for row `rowIndex`: its items, and (for any
// type but "MASS STORAGE") its auto-connect printer and fax entries looked up again and stored in
// the row.
std::vector<DeviceMenuItem> PrepareDeviceMenu(DeviceListModel& model, size_t rowIndex,
                                              Registry& registry, const ClientState& state);

}  // namespace tessaro
