// SPDX-License-Identifier: GPL-2.0-or-later
// What the device database records for a device linked to this PC, as keys and values below
// HKEY_LOCAL_MACHINE, before anything is written: the USB device key, a composite device's
// interface keys, the IEEE 1284.4 enumerator keys of a 1284.4 printer function, and for each
// scanner function its still-image class entry. docs/busd.md shows the layout.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/HubWire.h"

namespace tessaro::busd {

struct RegEntry {
  std::string name;
  uint32_t type = 0;  // regtype
  std::string data;   // as stored
};

// Written under SYSTEM\CurrentControlSet\Control\Class\<the key's Driver>.
struct StillImageEntry {
  std::string friendlyName;
  std::string deviceId;  // the SANE device name; empty when the server names none
  std::string twainDataSource;
};

struct DeviceKey {
  std::string path;  // below HKEY_LOCAL_MACHINE
  std::vector<RegEntry> values;
  // The setup class whose GUID the key's Driver value names, "{GUID}\NNNN" with a number
  // the database hands out; empty: no Driver value.
  std::string classGuid;
  std::string driverDesc;  // for the class entry of a new Driver
  std::optional<StillImageEntry> stillImage;
};

struct DeviceRecord {
  std::string instanceId;       // "USB\Vid_vvvv&Pid_pppp\<instance>"
  std::vector<DeviceKey> keys;  // parents before their children
};

DeviceRecord DescribeDeviceRecord(uint32_t serverIp, const wire::DeviceInfo& device);

// Value data as the registry stores it.
std::string MultiStringData(const std::vector<std::string>& strings);
std::string DwordData(uint32_t value);

}  // namespace tessaro::busd
