// SPDX-License-Identifier: GPL-2.0-or-later
#include "busd/DeviceDatabase.h"

#include <cctype>
#include <cstdio>
#include <set>

#include "base/AsciiText.h"

namespace tessaro::busd {

namespace {

constexpr int kMaxDriverNumber = 9999;  // four decimal digits

// A class entry's number: exactly four decimal digits.
int DriverNumber(std::string_view name) {
  if (name.size() != 4) return -1;
  int n = 0;
  for (char c : name) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

std::string Failed(const std::string& what, const std::string& path, uint32_t rc) {
  return what + " " + path + " failed (error " + std::to_string(rc) + ")";
}

}  // namespace

Result<> DeviceDatabase::Write(const DeviceRecord& record) {
  for (const DeviceKey& key : record.keys) {
    if (auto written = WriteKey(key); !written) return written;
  }
  return {};
}

uint32_t DeviceDatabase::Open(const std::string& path, RegKey& key) {
  return registry_.OpenKey(RegRoot::LocalMachine, path, regaccess::kAllAccess, true, key);
}

uint32_t DeviceDatabase::Put(const RegKey& key, const RegEntry& entry) {
  RegValue current;
  if (registry_.QueryValue(key, entry.name, current) == regerr::kSuccess &&
      current.type == entry.type && current.data == entry.data)
    return regerr::kSuccess;
  return registry_.SetValue(key, entry.name, entry.type, entry.data);
}

Result<> DeviceDatabase::WriteKey(const DeviceKey& plan) {
  RegKey key;
  if (const uint32_t rc = Open(plan.path, key); rc != regerr::kSuccess)
    return Failure(Failed("creating", plan.path, rc));
  for (const RegEntry& entry : plan.values)
    if (const uint32_t rc = Put(key, entry); rc != regerr::kSuccess)
      return Failure(Failed("writing " + entry.name + " of", plan.path, rc));
  if (plan.classGuid.empty()) return {};
  const auto driver = DriverFor(key, plan);
  if (!driver) return Failure(driver.error());
  if (const uint32_t rc = Put(key, {"Driver", regtype::kSz, *driver}); rc != regerr::kSuccess)
    return Failure(Failed("writing Driver of", plan.path, rc));
  return plan.stillImage ? WriteStillImage(*driver, *plan.stillImage) : Result<>();
}

Result<std::string> DeviceDatabase::DriverFor(const RegKey& key, const DeviceKey& plan) {
  const std::string classPath = kClassRoot + plan.classGuid;
  std::string driver;
  if (RegQueryString(registry_, key, "Driver", driver) == regerr::kSuccess &&
      StartsWithNoCase(driver, plan.classGuid + "\\") &&
      DriverNumber(std::string_view(driver).substr(plan.classGuid.size() + 1)) >= 0) {
    RegKey entry;  // made again should someone have removed it
    if (const uint32_t rc = Open(kClassRoot + driver, entry); rc != regerr::kSuccess)
      return Failure(Failed("creating", kClassRoot + driver, rc));
    return driver;
  }
  RegKey classKey;
  std::vector<std::string> names;
  uint32_t rc = Open(classPath, classKey);
  if (rc == regerr::kSuccess) rc = registry_.EnumSubKeys(classKey, names);
  if (rc != regerr::kSuccess) return Failure(Failed("listing", classPath, rc));
  std::set<int> used;
  for (const std::string& name : names) used.insert(DriverNumber(name));
  int number = 0;
  while (used.count(number)) ++number;
  if (number > kMaxDriverNumber) return Failure("no free driver number left in " + classPath);
  char suffix[8];
  std::snprintf(suffix, sizeof suffix, "\\%04d", number);
  RegKey entry;
  rc = Open(classPath + suffix, entry);
  if (rc == regerr::kSuccess) rc = Put(entry, {"DriverDesc", regtype::kSz, plan.driverDesc});
  if (rc != regerr::kSuccess) return Failure(Failed("creating", classPath + suffix, rc));
  return plan.classGuid + suffix;
}

Result<> DeviceDatabase::WriteStillImage(const std::string& driver, const StillImageEntry& still) {
  const std::string path = kClassRoot + driver;
  RegKey key, data;
  uint32_t rc = Open(path, key);
  const RegEntry entries[] = {{"SubClass", regtype::kSz, "StillImage"},
                              {"DeviceType", regtype::kDword, DwordData(1)},
                              {"FriendlyName", regtype::kSz, still.friendlyName},
                              {"DeviceID", regtype::kSz, still.deviceId}};
  for (const RegEntry& entry : entries)
    if (rc == regerr::kSuccess) rc = Put(key, entry);
  if (rc == regerr::kSuccess) rc = Open(path + "\\DeviceData", data);
  if (rc == regerr::kSuccess) rc = Put(data, {"TwainDS", regtype::kSz, still.twainDataSource});
  if (rc != regerr::kSuccess) return Failure(Failed("writing the still-image entry", path, rc));
  return {};
}

}  // namespace tessaro::busd
