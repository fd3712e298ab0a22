// SPDX-License-Identifier: GPL-2.0-or-later
// The stored server and device entries in memory, and the auto-connect list entries built from
// them at start-up.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "records/DeviceKey.h"

namespace tessaro {

// A server entry: whether this PC links itself to the server automatically.
struct ServerInfoReg {
  std::string ServerName;
  std::string ServerIP;
  std::string ServerMAC;
  uint8_t ServerEnable = 0;
  std::string Reserve1;
  std::string Reserve2;
  std::string Reserve3;
};

// A device entry: the printers bound to a device and its scan settings. The identity of an entry
// is ServerIP, ServerMAC, DeviceVid, DevicePid and DeviceSNo: its Key().
struct AutoConnectInfo {
  std::string ServerName;
  std::string ServerIP;
  std::string ServerMAC;
  std::string DeviceVid;
  std::string DevicePid;
  std::string DeviceSNo;
  std::string DeviceType;
  std::string DeviceManufacturer;
  std::string DeviceProduct;
  uint8_t PrinterEnable = 0;
  std::string PrinterName;
  std::string PrinterPort;
  uint8_t FaxEnable = 0;
  std::string FaxPrinterName;
  std::string FaxPrinterPort;
  int32_t ScanIndex = 0;  // 1 scans through this client, 2 does not, 0 not configured
  std::string Reserve7;
  std::string ScanNameTwain;
  uint8_t Reserve8 = 0;
  std::string Reserve1;
  std::string Reserve2;
  std::string Reserve3;

  DeviceKey Key() const { return {ServerIP, ServerMAC, DeviceVid, DevicePid, DeviceSNo}; }
  // An entry with only its identity set, as a read or a rewrite of a stored entry starts.
  static AutoConnectInfo For(const DeviceKey& key);
};

// The print monitor thread that watches an entry's printer.
class TPrintThread;

// One element of the auto-connect printer or fax list.
struct AutoLinkPrinter {
  std::string ServerIP;
  std::string ServerMAC;
  std::string DeviceVid;
  std::string DevicePid;
  std::string DeviceSNo;
  std::string PrinterName;
  std::string PrinterPort;
  // Referenced, not owned: the print monitor creates, stops and replaces it.
  TPrintThread* Thread = nullptr;

  DeviceKey Key() const { return {ServerIP, ServerMAC, DeviceVid, DevicePid, DeviceSNo}; }
  // A list entry for a device's printer, with no thread yet.
  static std::unique_ptr<AutoLinkPrinter> For(const DeviceKey& key, const std::string& printerName,
                                              const std::string& printerPort);
};

// The lists own their entries; entries stay at one address while a thread refers to them.
using AutoLinkList = std::vector<std::unique_ptr<AutoLinkPrinter>>;

}  // namespace tessaro
