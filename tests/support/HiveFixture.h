// SPDX-License-Identifier: GPL-2.0-or-later
// A user hive and a machine hive in a temporary folder, with helpers that reach the application
// key directly.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/Settings.h"
#include "platform/linux/SqliteRegistry.h"
#include "tests/support/Process.h"

namespace tessaro {

class HiveTest : public ::testing::Test {
 protected:
  testing::TempDir dir_;
  SqliteRegistry registry_{HivePaths{dir_ / "user.hive", dir_ / "machine.hive"}};

  RegKey Open(RegRoot root, const std::string& path, bool create) {
    RegKey key;
    registry_.OpenKey(root, path, regaccess::kAllAccess, create, key);
    return key;
  }
  void SetRaw(RegRoot root, const std::string& path, const std::string& name, uint32_t type,
              const std::string& data) {
    ASSERT_EQ(registry_.SetValue(Open(root, path, true), name, type, data), regerr::kSuccess);
  }
  void SetUser(const std::string& name, const std::string& text) {
    SetRaw(RegRoot::CurrentUser, AppRegistryKey, name, regtype::kSz, text);
  }
  // nullopt when the value is missing.
  std::optional<RegValue> Raw(RegRoot root, const std::string& path, const std::string& name) {
    RegValue value;
    if (registry_.QueryValue(Open(root, path, false), name, value) != regerr::kSuccess) {
      return std::nullopt;
    }
    return value;
  }
  std::optional<std::string> UserText(const std::string& name) {
    const auto value = Raw(RegRoot::CurrentUser, AppRegistryKey, name);
    if (!value) return std::nullopt;
    EXPECT_EQ(value->type, regtype::kSz) << name;
    return value->data;
  }
  std::vector<std::string> UserValueNames() {
    std::vector<std::string> names;
    registry_.EnumValues(Open(RegRoot::CurrentUser, AppRegistryKey, false), names);
    return names;
  }
};

}  // namespace tessaro
