// SPDX-License-Identifier: GPL-2.0-or-later
#include "autoconnect/AutoConnectStore.h"

#include "platform/RegistryText.h"

namespace tessaro {

namespace {

// Decimal text with an optional sign and nothing else, within 32 bits.
std::string AutoConnectPath(const std::string& appKey) {
  return appKey + "\\" + kAutoConnectSubKey;
}

std::string ScannerIdPath(const std::string& appKey) { return appKey + "\\" + kScannerIdSubKey; }

// A name holding a backslash would become a path of several keys, which no listing finds again.
bool IsOneKeyName(const std::string& name) { return name.find('\\') == std::string::npos; }

// A missing value, or one that is not a string, reads as empty text.
std::string ReadText(Registry& registry, const RegKey& key, std::string_view name) {
  std::string text;
  if (RegQueryString(registry, key, name, text) != regerr::kSuccess) text.clear();
  return text;
}

std::string FlagText(uint8_t flag) { return flag ? "1" : "0"; }

bool OpenEntry(Registry& registry, const std::string& appKey, const std::string& name, bool create,
               RegKey& key) {
  if (!IsOneKeyName(name)) return false;
  if (create) {
    RegKey list;
    if (registry.OpenKey(RegRoot::CurrentUser, AutoConnectPath(appKey), regaccess::kAllAccess, true,
                         list) != regerr::kSuccess) {
      return false;
    }
    return registry.OpenSubKey(list, name, regaccess::kAllAccess, true, key) == regerr::kSuccess;
  }
  return registry.OpenKey(RegRoot::CurrentUser, AutoConnectPath(appKey) + "\\" + name,
                          regaccess::kAllAccess, false, key) == regerr::kSuccess;
}

bool WriteAll(Registry& registry, const RegKey& key,
              const std::vector<std::pair<const char*, std::string>>& values) {
  for (const auto& [name, text] : values) {
    if (RegSetString(registry, key, name, text) != regerr::kSuccess) return false;
  }
  return true;
}

void ReadDeviceValues(Registry& registry, const RegKey& key, AutoConnectInfo& info) {
  info.ServerName = ReadText(registry, key, "ServerName");
  info.ServerIP = ReadText(registry, key, "ServerIP");
  info.ServerMAC = ReadText(registry, key, "ServerMAC");
  info.DeviceVid = ReadText(registry, key, "DeviceVid");
  info.DevicePid = ReadText(registry, key, "DevicePid");
  info.DeviceSNo = ReadText(registry, key, "DeviceSNo");
  info.DeviceType = ReadText(registry, key, "DeviceType");
  info.DeviceManufacturer = ReadText(registry, key, "DeviceManufacturer");
  info.DeviceProduct = ReadText(registry, key, "DeviceProduct");
  info.PrinterEnable = ReadFlagText(ReadText(registry, key, "PrinterEnable"));
  info.PrinterName = ReadText(registry, key, "PrinterName");
  info.PrinterPort = ReadText(registry, key, "PrinterPort");
  info.FaxEnable = ReadFlagText(ReadText(registry, key, "Reserve4"));
  info.FaxPrinterName = ReadText(registry, key, "Reserve5");
  info.FaxPrinterPort = ReadText(registry, key, "Reserve6");
  info.ScanIndex = ReadScanIndexText(ReadText(registry, key, "ScanIndex"));
  info.Reserve7 = ReadText(registry, key, "Reserve7");
  info.ScanNameTwain = ReadText(registry, key, "ScanNameTwain");
  info.Reserve8 = ReadFlagText(ReadText(registry, key, "Reserve8"));
  info.Reserve1 = ReadText(registry, key, "Reserve1");
  info.Reserve2 = ReadText(registry, key, "Reserve2");
  info.Reserve3 = ReadText(registry, key, "Reserve3");
}

}  // namespace

uint8_t ReadFlagText(std::string_view text) { return ParseRegistryInt32(text) == 1 ? 1 : 0; }

int32_t ReadScanIndexText(std::string_view text) {
  const auto value = ParseRegistryInt32(text);
  return value == 1 || value == 2 ? *value : 0;
}

bool ListAutoConnectKeys(Registry& registry, const std::string& appKey,
                         std::vector<std::string>& names) {
  names.clear();
  RegKey key;
  if (registry.OpenKey(RegRoot::CurrentUser, AutoConnectPath(appKey), regaccess::kAllAccess, true,
                       key) != regerr::kSuccess) {
    return false;
  }
  return registry.EnumSubKeys(key, names) == regerr::kSuccess;
}

bool ReadServerEntry(Registry& registry, const std::string& appKey, ServerInfoReg& info) {
  RegKey key;
  if (!OpenEntry(registry, appKey, ServerEntryName(info.ServerIP, info.ServerMAC), false, key)) {
    return false;
  }
  info.ServerEnable = ReadFlagText(ReadText(registry, key, "ServerEnable"));
  info.Reserve1 = ReadText(registry, key, "Reserve1");
  info.Reserve2 = ReadText(registry, key, "Reserve2");
  info.Reserve3 = ReadText(registry, key, "Reserve3");
  return true;
}

bool WriteServerEntry(Registry& registry, const std::string& appKey, const ServerInfoReg& info) {
  RegKey key;
  if (!OpenEntry(registry, appKey, ServerEntryName(info.ServerIP, info.ServerMAC), true, key)) {
    return false;
  }
  return WriteAll(registry, key,
                  {{"ServerName", info.ServerName},
                   {"ServerIP", info.ServerIP},
                   {"ServerMAC", info.ServerMAC},
                   {"ServerEnable", FlagText(info.ServerEnable)},
                   {"Reserve1", info.Reserve1},
                   {"Reserve2", info.Reserve2},
                   {"Reserve3", info.Reserve3}});
}

bool ReadDeviceEntry(Registry& registry, const std::string& appKey, AutoConnectInfo& info) {
  RegKey key;
  if (!OpenEntry(registry, appKey, info.Key().EntryName(), false, key)) return false;
  ReadDeviceValues(registry, key, info);
  return true;
}

bool WriteDeviceEntry(Registry& registry, const std::string& appKey, const AutoConnectInfo& info) {
  RegKey key;
  if (!OpenEntry(registry, appKey, info.Key().EntryName(), true, key)) return false;
  return WriteAll(registry, key,
                  {{"ServerName", info.ServerName},
                   {"ServerIP", info.ServerIP},
                   {"ServerMAC", info.ServerMAC},
                   {"DeviceVid", info.DeviceVid},
                   {"DevicePid", info.DevicePid},
                   {"DeviceSNo", info.DeviceSNo},
                   {"DeviceType", info.DeviceType},
                   {"DeviceManufacturer", info.DeviceManufacturer},
                   {"DeviceProduct", info.DeviceProduct},
                   {"PrinterEnable", FlagText(info.PrinterEnable)},
                   {"PrinterName", info.PrinterName},
                   {"PrinterPort", info.PrinterPort},
                   {"Reserve4", FlagText(info.FaxEnable)},
                   {"Reserve5", info.FaxPrinterName},
                   {"Reserve6", info.FaxPrinterPort},
                   {"ScanIndex", std::to_string(info.ScanIndex)},
                   {"Reserve7", info.Reserve7},
                   {"ScanNameTwain", info.ScanNameTwain},
                   {"Reserve8", FlagText(info.Reserve8)},
                   {"Reserve1", info.Reserve1},
                   {"Reserve2", info.Reserve2},
                   {"Reserve3", info.Reserve3}});
}

std::optional<AutoConnectInfo> ReadStoredDeviceEntry(Registry& registry, const std::string& appKey,
                                                     const DeviceData& d) {
  AutoConnectInfo info = AutoConnectInfo::For(d.Key());
  if (!ReadDeviceEntry(registry, appKey, info)) return std::nullopt;
  return info;
}

bool ReadDeviceEntryAt(Registry& registry, const std::string& appKey, std::size_t index,
                       AutoConnectInfo& info) {
  std::vector<std::string> names;
  if (!ListAutoConnectKeys(registry, appKey, names)) return false;
  if (index >= names.size() || names[index].empty()) return false;
  RegKey key;
  if (!OpenEntry(registry, appKey, names[index], false, key)) return false;
  ReadDeviceValues(registry, key, info);
  return true;
}

bool ListScannerIds(Registry& registry, const std::string& appKey,
                    std::vector<std::string>& names) {
  names.clear();
  RegKey key;
  if (registry.OpenKey(RegRoot::CurrentUser, ScannerIdPath(appKey), regaccess::kAllAccess, true,
                       key) != regerr::kSuccess) {
    return false;
  }
  return registry.EnumValues(key, names) == regerr::kSuccess;
}

bool AddScannerId(Registry& registry, const std::string& appKey, const std::string& vendorId,
                  const std::string& productId, const std::string& identityText) {
  RegKey key;
  if (registry.OpenKey(RegRoot::CurrentUser, ScannerIdPath(appKey), regaccess::kAllAccess, true,
                       key) != regerr::kSuccess) {
    return false;
  }
  return RegSetString(registry, key, ScannerIdentityText(vendorId, productId), identityText) ==
         regerr::kSuccess;
}

bool RemoveScannerId(Registry& registry, const std::string& appKey, const std::string& vendorId,
                     const std::string& productId) {
  RegKey key;
  if (registry.OpenKey(RegRoot::CurrentUser, ScannerIdPath(appKey), regaccess::kAllAccess, false,
                       key) != regerr::kSuccess) {
    return false;
  }
  const uint32_t rc = registry.DeleteValue(key, ScannerIdentityText(vendorId, productId));
  return rc == regerr::kSuccess || rc == regerr::kFileNotFound;
}

}  // namespace tessaro
