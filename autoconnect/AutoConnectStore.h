// SPDX-License-Identifier: GPL-2.0-or-later
// Server entries, device entries and scanner identities in the user hive, below the application
// key. Every operation opens its keys with full access and closes them again; it returns true
// when the key it needs could be opened (reads) or written (writes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Registry.h"
#include "records/AutoConnectRecords.h"
#include "records/DeviceKey.h"
#include "records/Records.h"

namespace tessaro {

inline constexpr const char* kAutoConnectSubKey = "Auto-Connect";
inline constexpr const char* kScannerIdSubKey = "ScannerId";

// Server entries are named by ServerEntryName, device entries by their DeviceKey's EntryName and
// scanner identities by ScannerIdentityText (records/).

// A flag is the decimal value of its text when that is 0 or 1; text that is not a decimal
// integer, or any other number, reads as 0.
uint8_t ReadFlagText(std::string_view text);
// A scan index reads as 1 or 2 from their decimal text; anything else is 0 (not configured).
int32_t ReadScanIndexText(std::string_view text);

bool ListAutoConnectKeys(Registry& registry, const std::string& appKey,
                         std::vector<std::string>& names);
bool ReadServerEntry(Registry& registry, const std::string& appKey, ServerInfoReg& info);
bool WriteServerEntry(Registry& registry, const std::string& appKey, const ServerInfoReg& info);
bool ReadDeviceEntry(Registry& registry, const std::string& appKey, AutoConnectInfo& info);
bool WriteDeviceEntry(Registry& registry, const std::string& appKey, const AutoConnectInfo& info);
// The stored entry of a row's device, looked up by server IP and MAC, vendor, product and serial.
std::optional<AutoConnectInfo> ReadStoredDeviceEntry(Registry& registry, const std::string& appKey,
                                                     const DeviceData& d);
bool ReadDeviceEntryAt(Registry& registry, const std::string& appKey, std::size_t index,
                       AutoConnectInfo& info);

bool ListScannerIds(Registry& registry, const std::string& appKey, std::vector<std::string>& names);
bool AddScannerId(Registry& registry, const std::string& appKey, const std::string& vendorId,
                  const std::string& productId, const std::string& identityText);
// True when the key opened and the value is gone (deleted now, or absent already).
bool RemoveScannerId(Registry& registry, const std::string& appKey, const std::string& vendorId,
                     const std::string& productId);

}  // namespace tessaro
