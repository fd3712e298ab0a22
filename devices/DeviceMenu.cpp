// SPDX-License-Identifier: GPL-2.0-or-later
#include "devices/DeviceMenu.h"

#include "autoconnect/AutoConnectLists.h"
#include "autoconnect/AutoConnectStore.h"
#include "devices/DeviceListModel.h"
#include "host/WindowsVersion.h"
#include "protocol/TypeWords.h"
#include "records/ClientState.h"
#include "records/DeviceTypes.h"

namespace tessaro {

namespace {

constexpr const char* kManageDevice = "Manage Device";
constexpr const char* kTroubleShooting = "TroubleShooting";

enum Item : size_t {
  kPrintManage,
  kScanManage,
  kN2,
  kScanNow,
  kN6,
  kConnect,
  kDisconnect,
  kRequest
};

std::vector<DeviceMenuItem> DesignedMenu() {
  using C = DeviceCommand;
  return {
      {"PrintManageDevMItem", C::PrintManageDevice, kManageDevice, -1},
      {"ScanManageDevMItem", C::ScanManageDevice, kManageDevice, -1},
      {"N2", C::None, "-", -1},
      {"ScanNowMItem", C::ScanNow, "Scan Now", -1},
      {"N6", C::None, "-", -1},
      {"ConnectMItem", C::Connect, "Connect", 0},
      {"DisconnectMItem", C::Disconnect, "Disconnect", 1},
      {"RequestUseMItem", C::RequestToUse, "Request To Use", 4},
  };
}

void Show(DeviceMenuItem& item) {
  item.visible = true;
  item.enabled = true;
}

}  // namespace

bool StoredEntryOffersScan(const std::optional<AutoConnectInfo>& entry,
                           uint32_t windowsVersionFlags) {
  if (!entry || entry->PrinterName.empty() || !entry->PrinterEnable) return false;
  if (entry->ScanIndex != 1) return false;
  // Older Windows scans through a TWAIN source, which the entry has to name.
  if (IsOlderWindows(windowsVersionFlags)) return !entry->ScanNameTwain.empty();
  return true;
}

std::vector<DeviceMenuItem> DeviceMenuItems(const DeviceData& d,
                                            const std::optional<AutoConnectInfo>& storedEntry,
                                            const std::string& computerName,
                                            uint32_t windowsVersionFlags) {
  std::vector<DeviceMenuItem> menu = DesignedMenu();
  for (size_t i : {kScanNow, kPrintManage, kScanManage, kConnect, kDisconnect, kRequest})
    menu[i].visible = false;
  for (size_t i : {kConnect, kDisconnect, kRequest}) menu[i].enabled = false;

  const bool heldElsewhere = !d.owner.empty() && d.owner != computerName;
  if (heldElsewhere && d.LockedAs(LockKind::Manual)) {
    Show(menu[kRequest]);
    return menu;
  }
  if (wire::IsPrinterType(d.type)) {
    menu[kPrintManage].caption = d.autoPrinterIndex == -1 ? kManageDevice : kTroubleShooting;
    menu[kPrintManage].visible = true;
    if (StoredEntryOffersScan(storedEntry, windowsVersionFlags)) menu[kScanNow].visible = true;
  } else if (IsType(d.type, devtype::kScanner)) {
    menu[kScanManage].caption = kTroubleShooting;
    menu[kScanManage].visible = true;
    menu[kScanNow].visible = true;
  } else if (IsType(d.type, devtype::kUnknown)) {
    menu[kScanManage].caption = kManageDevice;
    menu[kScanManage].visible = true;
  }
  Show(menu[d.owner != computerName ? kConnect : kDisconnect]);
  return menu;
}

bool QuickScanRuns(const DeviceData& d, const std::optional<AutoConnectInfo>& storedEntry,
                   uint32_t windowsVersionFlags) {
  if (wire::IsPrinterType(d.type)) return StoredEntryOffersScan(storedEntry, windowsVersionFlags);
  return IsType(d.type, devtype::kScanner);
}

std::vector<DeviceMenuItem> PrepareDeviceMenu(DeviceListModel& model, size_t rowIndex,
                                              Registry& registry, const ClientState& state) {
  const DeviceData& d = model.row(rowIndex);
  // Only printers and MFPs read their stored entry for the menu.
  std::optional<AutoConnectInfo> stored;
  if (wire::IsPrinterType(d.type)) stored = ReadStoredDeviceEntry(registry, state.appKey, d);
  auto menu = DeviceMenuItems(d, stored, state.computerName, state.windowsVersionFlags);
  if (!IsType(d.type, devtype::kMassStorage)) {
    model.EditRow(rowIndex, [&](DeviceData& row) {
      row.autoPrinterIndex = FindAutoLinkEntry(state.printers(), row.serverMac,
                                               row.DeviceIdentityText, row.autoPrinterName);
      row.autoFaxIndex =
          FindAutoLinkEntry(state.faxes(), row.serverMac, row.DeviceIdentityText, row.autoFaxName);
    });
  }
  return menu;
}

}  // namespace tessaro
