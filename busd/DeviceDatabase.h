// SPDX-License-Identifier: GPL-2.0-or-later
// Writes device records into the machine hive. Entries are never removed: like Windows, this
// PC keeps what it learnt of a device after the device goes. Writing a record again changes only
// what differs, and a key keeps the Driver number it was given, so a device linked again is the
// same device, and a record a crash left half-written is completed by the next link.
#pragma once

#include <string>

#include "base/Result.h"
#include "busd/DeviceKeys.h"
#include "platform/Registry.h"

namespace tessaro::busd {

class DeviceDatabase {
 public:
  static constexpr const char* kClassRoot = "SYSTEM\\CurrentControlSet\\Control\\Class\\";

  explicit DeviceDatabase(Registry& registry) : registry_(registry) {}

  // Fails with what could not be written.
  Result<> Write(const DeviceRecord& record);

 private:
  Result<> WriteKey(const DeviceKey& plan);
  // The key's Driver value: the one it has for its class, else the lowest free number.
  Result<std::string> DriverFor(const RegKey& key, const DeviceKey& plan);
  Result<> WriteStillImage(const std::string& driver, const StillImageEntry& entry);
  // Sets a value unless it already holds exactly that; 0 or a registry error code.
  uint32_t Put(const RegKey& key, const RegEntry& entry);
  uint32_t Open(const std::string& path, RegKey& key);

  Registry& registry_;
};

}  // namespace tessaro::busd
