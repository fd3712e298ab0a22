// SPDX-License-Identifier: GPL-2.0-or-later
// A user hive in a temporary folder, with the application key of the client.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "autoconnect/AutoConnectStore.h"
#include "platform/linux/SqliteRegistry.h"
#include "tests/support/Process.h"

namespace tessaro {

inline const std::string kAppKey = "Software\\Corvana\\Tessaro Utility";
inline const std::string kAutoConnectPath = kAppKey + "\\Auto-Connect";

class StoreTest : public ::testing::Test {
 protected:
  testing::TempDir dir_;
  SqliteRegistry registry_{HivePaths{dir_ / "user.hive", dir_ / "machine.hive"}};

  RegKey Open(const std::string& path, bool create = true) {
    RegKey key;
    registry_.OpenKey(RegRoot::CurrentUser, path, regaccess::kAllAccess, create, key);
    return key;
  }
  bool Exists(const std::string& path) { return Open(path, false).valid; }
  void SetText(const std::string& path, const std::string& name, const std::string& text) {
    ASSERT_EQ(RegSetString(registry_, Open(path), name, text), regerr::kSuccess);
  }
  std::string Text(const std::string& path, const std::string& name) {
    std::string text;
    RegQueryString(registry_, Open(path, false), name, text);
    return text;
  }
  std::vector<std::string> ValueNames(const std::string& path) {
    std::vector<std::string> names;
    registry_.EnumValues(Open(path, false), names);
    return names;
  }
};

// A complete device entry on server 192.168.0.20.
inline AutoConnectInfo Device(const std::string& vid, const std::string& pid,
                              const std::string& serial) {
  AutoConnectInfo info;
  info.ServerName = "Hub";
  info.ServerIP = "192.168.0.20";
  info.ServerMAC = "00:0D:88:12:34:56";
  info.DeviceVid = vid;
  info.DevicePid = pid;
  info.DeviceSNo = serial;
  info.DeviceType = "PRINTER";
  info.DeviceManufacturer = "Maker";
  info.DeviceProduct = "Model";
  return info;
}

}  // namespace tessaro
