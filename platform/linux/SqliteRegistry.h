// SPDX-License-Identifier: GPL-2.0-or-later
// The registry on SQLite hive files, one per root (docs/registry.md).
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/Registry.h"

struct sqlite3;

namespace tessaro {

struct HivePaths {
  std::string user;
  std::string machine;
};

// TESSARO_USER_HIVE (default $XDG_CONFIG_HOME/tessaro/user.hive, XDG default ~/.config) and
// TESSARO_MACHINE_HIVE (default /var/lib/tessaro/machine.hive).
HivePaths HivePathsFromEnvironment();

class SqliteRegistry : public Registry {
 public:
  explicit SqliteRegistry(HivePaths paths = HivePathsFromEnvironment());
  ~SqliteRegistry() override;
  SqliteRegistry(const SqliteRegistry&) = delete;
  SqliteRegistry& operator=(const SqliteRegistry&) = delete;

  uint32_t OpenKey(RegRoot root, std::string_view path, uint32_t access, bool create,
                   RegKey& out) override;
  uint32_t QueryValue(const RegKey& key, std::string_view name, RegValue& out) override;
  uint32_t SetValue(const RegKey& key, std::string_view name, uint32_t type,
                    std::string_view data) override;
  uint32_t EnumSubKeys(const RegKey& key, std::vector<std::string>& names) override;
  uint32_t EnumValues(const RegKey& key, std::vector<std::string>& names) override;
  uint32_t DeleteValue(const RegKey& key, std::string_view name) override;
  uint32_t DeleteKey(const RegKey& key, std::string_view name) override;

 private:
  struct Hive;
  class Operation;
  Hive& HiveOf(RegRoot root);
  // Opens the hive's connection when needed: read-write when this user may write the file and
  // its folder, else query only. `create` makes a missing file. A file that is no database is
  // moved aside for a new hive when it may be written, else the hive answers 1016; so does a
  // folder in its place. kSuccess or a result code.
  uint32_t Connect(Hive& hive, bool create);
  uint32_t OpenHive(const RegKey& key, bool write, Hive*& hive);
  // Damaged: not a database or a corrupt one. Unreadable: could not be read now (locked).
  enum class Health { Good, Damaged, Unreadable };
  static Health Check(sqlite3* db);
  // One line on standard error, the first time only.
  static void Report(Hive& hive, const std::string& line);

  std::mutex mutex_;  // one connection per hive, shared by the threads of this process
  std::unique_ptr<Hive> user_;
  std::unique_ptr<Hive> machine_;
};

}  // namespace tessaro
