// SPDX-License-Identifier: GPL-2.0-or-later
#include "devices/BusRecords.h"

#include "autoconnect/AutoConnectLists.h"
#include "records/DeviceTypes.h"
#include "records/StateText.h"

namespace tessaro {

void TakeServerFields(ServerData& server, const ServerEntry& entry) {
  server.displayName = ServerDisplayName(entry.name, entry.ip);
  server.name = entry.name;
  server.ip = entry.ip;
  server.state = entry.state;
  server.mac = entry.mac;
  server.storageMode = entry.storageMode;
}

DeviceData DeviceFromEntry(const DeviceEntry& e, const ServerData& server,
                           const ClientState& state) {
  DeviceData d;
  d.handle = server.handle;
  d.serverName = server.name;
  d.serverIp = server.ip;
  d.serverMac = server.mac;
  d.deviceNumber = std::to_string(e.deviceNumber);
  d.vendorId = e.vendorId;
  d.productId = e.productId;
  d.lockKind = e.lockKind;
  d.lockCount = e.lockCount;
  d.owner = e.owner;
  d.manufacturer = e.manufacturer;
  d.product = e.product;
  d.serial = e.serial;
  d.DeviceIdentityText = d.Key().IdentityText();
  d.autoPrinterIndex =
      FindAutoLinkEntry(state.printers(), server.mac, d.DeviceIdentityText, d.autoPrinterName);
  d.autoFaxIndex =
      FindAutoLinkEntry(state.faxes(), server.mac, d.DeviceIdentityText, d.autoFaxName);
  d.type = NormalizeDeviceType(e.type, e.vendorId, e.productId, state.scanners());
  d.displayName = DeviceDisplayName(e.manufacturer, e.product);
  UpdateStateText(d, state.scanners(), state.computerName);
  // A storage device carries its server's storage mode where others carry their printer entry.
  if (IsType(d.type, devtype::kMassStorage)) d.SetStorageMode(server.storageMode);
  return d;
}

}  // namespace tessaro
