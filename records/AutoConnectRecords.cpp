// SPDX-License-Identifier: GPL-2.0-or-later
#include "records/AutoConnectRecords.h"

namespace tessaro {

AutoConnectInfo AutoConnectInfo::For(const DeviceKey& key) {
  AutoConnectInfo info;
  info.ServerIP = key.serverIp;
  info.ServerMAC = key.serverMac;
  info.DeviceVid = key.vendorId;
  info.DevicePid = key.productId;
  info.DeviceSNo = key.serial;
  return info;
}

std::unique_ptr<AutoLinkPrinter> AutoLinkPrinter::For(const DeviceKey& key,
                                                      const std::string& printerName,
                                                      const std::string& printerPort) {
  auto entry = std::make_unique<AutoLinkPrinter>();
  entry->ServerIP = key.serverIp;
  entry->ServerMAC = key.serverMac;
  entry->DeviceVid = key.vendorId;
  entry->DevicePid = key.productId;
  entry->DeviceSNo = key.serial;
  entry->PrinterName = printerName;
  entry->PrinterPort = printerPort;
  return entry;
}

}  // namespace tessaro
