// SPDX-License-Identifier: GPL-2.0-or-later
// One record per attached server and one per device row. Texts are 8-bit strings kept byte
// for byte; an empty text means "none".
#pragma once

#include <cstdint>
#include <string>

#include "driver/LockKind.h"
#include "platform/BusTransport.h"
#include "records/DeviceKey.h"

namespace tessaro {

struct ServerData {
  BusHandle handle = kInvalidBusHandle;  // the server's Spur, while one is open
  std::string busPath;
  std::string displayName;  // name + " - " + ip
  std::string name;
  std::string ip;
  std::string state;  // decimal text
  std::string mac;
  uint8_t enabled = 0;
  int32_t storageMode = 0;  // 0 = network storage mode, other = USB-over-network mode
};

struct DeviceData {
  BusHandle handle = kInvalidBusHandle;  // copy of the server's Spur handle
  std::string serverName;
  std::string serverIp;
  std::string serverMac;
  std::string deviceNumber;  // decimal text
  std::string displayName;
  std::string stateText;
  std::string DeviceIdentityText;
  std::string type;
  std::string manufacturer;
  std::string product;
  std::string owner;
  std::string vendorId;
  std::string productId;
  std::string serial;
  std::string autoPrinterName;
  // A printer's index in the auto-connect printer list (-1: none). A "MASS STORAGE" row has no
  // auto-connect printer and keeps its server's storage mode here instead: use the accessors.
  int32_t autoPrinterIndex = -1;
  std::string autoFaxName;
  int32_t autoFaxIndex = -1;
  int32_t lockKind = 0;  // a LockKind, 0 while nobody holds a lock
  int32_t lockCount = 0;

  DeviceKey Key() const { return {serverIp, serverMac, vendorId, productId, serial}; }
  bool LockedAs(LockKind kind) const { return lockKind == static_cast<int32_t>(kind); }
  // The storage mode of a "MASS STORAGE" row's server: 0 = network storage, other = USB mode.
  int32_t StorageMode() const { return autoPrinterIndex; }
  void SetStorageMode(int32_t mode) { autoPrinterIndex = mode; }
};

std::string ServerDisplayName(const std::string& name, const std::string& ip);
// vendorId + " - " + productId + " - " + serial
std::string MakeDeviceIdentityText(const std::string& vendorId, const std::string& productId,
                                   const std::string& serial);
// "Vid_" + vendorId + "&Pid_" + productId, the form the scanner id list holds
std::string ScannerIdentityText(const std::string& vendorId, const std::string& productId);
// manufacturer + " - " + product, or "USB Device" when both are empty
std::string DeviceDisplayName(const std::string& manufacturer, const std::string& product);
bool IsUnnamedDevice(const std::string& manufacturer, const std::string& product);

}  // namespace tessaro
