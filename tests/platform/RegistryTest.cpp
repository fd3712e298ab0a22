// SPDX-License-Identifier: GPL-2.0-or-later
// The hive contract against real hive files in temporary folders.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "platform/linux/SqliteRegistry.h"
#include "tests/TestPaths.h"
#include "tests/support/Process.h"

namespace tessaro {
namespace {

using testing::TempDir;

// Rows read straight from a hive file, to check what other readers of the file see.
std::vector<std::string> Column(const std::string& file, const char* sql) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &st, nullptr), SQLITE_OK);
  while (st && sqlite3_step(st) == SQLITE_ROW) {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(st, 0));
    rows.emplace_back(bytes ? bytes : "", static_cast<std::size_t>(sqlite3_column_bytes(st, 0)));
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rows;
}

class RegistryTest : public ::testing::Test {
 protected:
  TempDir dir_;
  std::string userHive_ = dir_ / "cfg/tessaro/user.hive";
  std::string machineHive_ = dir_ / "lib/machine.hive";
  SqliteRegistry registry_{HivePaths{userHive_, machineHive_}};

  RegKey Create(const std::string& path, RegRoot root = RegRoot::CurrentUser) {
    RegKey key;
    EXPECT_EQ(registry_.OpenKey(root, path, regaccess::kAllAccess, true, key), regerr::kSuccess)
        << path;
    return key;
  }
  std::vector<std::string> SubKeys(const std::string& path) {
    RegKey key;
    std::vector<std::string> names;
    EXPECT_EQ(registry_.OpenKey(RegRoot::CurrentUser, path, regaccess::kRead, false, key),
              regerr::kSuccess);
    EXPECT_EQ(registry_.EnumSubKeys(key, names), regerr::kSuccess);
    return names;
  }
  std::vector<std::string> Values(const RegKey& key) {
    std::vector<std::string> names;
    EXPECT_EQ(registry_.EnumValues(key, names), regerr::kSuccess);
    return names;
  }
};

TEST_F(RegistryTest, OpeningWithoutCreateFindsNothingAndMakesNoFile) {
  RegKey key;
  EXPECT_EQ(
      registry_.OpenKey(RegRoot::CurrentUser, "Software\\X", regaccess::kAllAccess, false, key),
      regerr::kFileNotFound);
  EXPECT_FALSE(key.valid);
  EXPECT_FALSE(std::filesystem::exists(userHive_));

  Create("Software\\Y");
  EXPECT_EQ(
      registry_.OpenKey(RegRoot::CurrentUser, "Software\\X", regaccess::kAllAccess, false, key),
      regerr::kFileNotFound);
  EXPECT_EQ(
      registry_.OpenKey(RegRoot::CurrentUser, "Software\\\\Y", regaccess::kAllAccess, true, key),
      regerr::kInvalidParameter);
}

TEST_F(RegistryTest, HiveFilesGetTheirModesAndEachRootItsOwnFile) {
  // Whatever the umask: busd's service runs with 0007, which would keep users from reading.
  const mode_t saved = ::umask(0077);
  Create("Software\\U", RegRoot::CurrentUser);
  Create("Software\\M", RegRoot::LocalMachine);
  ::umask(saved);
  struct stat st {};
  ASSERT_EQ(stat(userHive_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat(machineHive_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  ASSERT_EQ(stat((dir_ / "lib").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u) << "the folder every user passes through";
  EXPECT_EQ(Column(userHive_, "SELECT path FROM reg_key WHERE path LIKE 'Software\\%'"),
            std::vector<std::string>{"Software\\U"});
  EXPECT_EQ(Column(machineHive_, "SELECT path FROM reg_key WHERE path LIKE 'Software\\%'"),
            std::vector<std::string>{"Software\\M"});
  // Rollback journal, so that a reader without write access can open the file.
  EXPECT_EQ(Column(userHive_, "PRAGMA journal_mode"), std::vector<std::string>{"delete"});
}

TEST_F(RegistryTest, EveryAncestorHasARowAndNamesKeepTheirFirstCase) {
  Create("Software\\Corvana\\Tessaro Utility");
  // Other spellings reach the same keys and keep the stored case.
  const RegKey key = Create("SOFTWARE\\corvana\\Tessaro Utility\\Auto-Connect");
  EXPECT_EQ(key.path, "Software\\Corvana\\Tessaro Utility\\Auto-Connect");
  EXPECT_EQ(Column(userHive_, "SELECT path FROM reg_key ORDER BY path"),
            (std::vector<std::string>{"", "Software", "Software\\Corvana",
                                      "Software\\Corvana\\Tessaro Utility",
                                      "Software\\Corvana\\Tessaro Utility\\Auto-Connect"}));

  ASSERT_EQ(RegSetString(registry_, key, "ServerName", "first"), regerr::kSuccess);
  ASSERT_EQ(RegSetString(registry_, key, "SERVERNAME", "second"), regerr::kSuccess);
  EXPECT_EQ(Values(key), std::vector<std::string>{"ServerName"});
  std::string text;
  EXPECT_EQ(RegQueryString(registry_, key, "servername", text), regerr::kSuccess);
  EXPECT_EQ(text, "second");
  // Values are stored under their key's stored path.
  EXPECT_EQ(Column(userHive_, "SELECT key FROM reg_value"),
            std::vector<std::string>{"Software\\Corvana\\Tessaro Utility\\Auto-Connect"});
}

TEST_F(RegistryTest, SubKeysComeInUpperFoldedOrderThenByBytes) {
  const RegKey parent = Create("P");
  // '[' '_' sort after the letters once folded to upper case, though before them in lower case.
  for (const char* name : {"beta", "_x", "Alpha", "alpha2", "Zeta", "[k", "~t", "\xC4rger", "9"}) {
    RegKey child;
    ASSERT_EQ(registry_.OpenSubKey(parent, name, regaccess::kAllAccess, true, child),
              regerr::kSuccess);
  }
  Create("P\\beta\\grandchild");
  Create("PX");  // shares the prefix, is no child
  EXPECT_EQ(SubKeys("P"), (std::vector<std::string>{"9", "Alpha", "alpha2", "beta", "Zeta", "[k",
                                                    "_x", "~t", "\xC4rger"}));
  EXPECT_EQ(SubKeys(""), (std::vector<std::string>{"P", "PX"}));
}

TEST_F(RegistryTest, ValuesKeepTheirFirstWrittenPlace) {
  const RegKey key = Create("K");
  for (const char* name : {"one", "two", "three"}) {
    ASSERT_EQ(RegSetString(registry_, key, name, "a"), regerr::kSuccess);
  }
  const auto rowidBefore = Column(userHive_, "SELECT rowid FROM reg_value WHERE name='one'");
  ASSERT_EQ(RegSetString(registry_, key, "one", "updated"), regerr::kSuccess);
  EXPECT_EQ(Column(userHive_, "SELECT rowid FROM reg_value WHERE name='one'"), rowidBefore);
  EXPECT_EQ(Values(key), (std::vector<std::string>{"one", "two", "three"}));

  ASSERT_EQ(registry_.DeleteValue(key, "TWO"), regerr::kSuccess);
  EXPECT_EQ(registry_.DeleteValue(key, "two"), regerr::kFileNotFound);
  ASSERT_EQ(RegSetString(registry_, key, "two", "back"), regerr::kSuccess);
  EXPECT_EQ(Values(key), (std::vector<std::string>{"one", "three", "two"}));
}

TEST_F(RegistryTest, DeletingAKeyTakesItsSubKeysAndValues) {
  const RegKey a = Create("A");
  const RegKey b = Create("A\\B");
  const RegKey c = Create("A\\B\\C");
  const RegKey bb = Create("A\\BB");
  ASSERT_EQ(RegSetString(registry_, b, "v", "1"), regerr::kSuccess);
  ASSERT_EQ(RegSetString(registry_, c, "v", "2"), regerr::kSuccess);
  ASSERT_EQ(RegSetString(registry_, bb, "v", "3"), regerr::kSuccess);

  ASSERT_EQ(registry_.DeleteKey(a, "b"), regerr::kSuccess);
  EXPECT_EQ(SubKeys("A"), std::vector<std::string>{"BB"});
  EXPECT_EQ(Column(userHive_, "SELECT key FROM reg_value"), std::vector<std::string>{"A\\BB"});
  EXPECT_EQ(registry_.DeleteKey(a, "B"), regerr::kFileNotFound);
  // A handle to a deleted key can no longer write.
  EXPECT_EQ(RegSetString(registry_, c, "v", "x"), regerr::kKeyDeleted);
}

TEST_F(RegistryTest, TypedValuesAndRawBytesRoundTrip) {
  const RegKey key = Create("T");
  ASSERT_EQ(registry_.SetValue(key, "dw", regtype::kDword, std::string("\x78\x56\x34\x12", 4)),
            regerr::kSuccess);
  ASSERT_EQ(registry_.SetValue(key, "multi", regtype::kMultiSz, std::string("a\0bc\0\0", 6)),
            regerr::kSuccess);
  const std::string bytes("caf\xE9\x01", 5);  // 8-bit text, stored unchanged
  ASSERT_EQ(RegSetString(registry_, key, bytes, bytes, true), regerr::kSuccess);

  uint32_t dw = 0;
  EXPECT_EQ(RegQueryDword(registry_, key, "dw", dw), regerr::kSuccess);
  EXPECT_EQ(dw, 0x12345678u);
  std::vector<std::string> multi;
  EXPECT_EQ(RegQueryMultiString(registry_, key, "multi", multi), regerr::kSuccess);
  EXPECT_EQ(multi, (std::vector<std::string>{"a", "bc"}));
  RegValue raw;
  EXPECT_EQ(registry_.QueryValue(key, bytes, raw), regerr::kSuccess);
  EXPECT_EQ(raw.type, regtype::kExpandSz);
  EXPECT_EQ(raw.data, bytes);
  EXPECT_EQ(Column(userHive_, "SELECT data FROM reg_value WHERE type = 2"),
            std::vector<std::string>{bytes});

  std::string text = "untouched";
  EXPECT_EQ(RegQueryString(registry_, key, "dw", text), regerr::kInvalidParameter);
  EXPECT_EQ(text, "untouched");
  EXPECT_EQ(RegQueryDword(registry_, key, "multi", dw), regerr::kInvalidParameter);
  EXPECT_EQ(registry_.QueryValue(key, "absent", raw), regerr::kFileNotFound);
}

TEST(RegistryFit, DataPlusTerminatorMustFitTheBuffer) {
  struct Case {
    std::size_t dataSize;
    std::size_t buffer;
    bool fits;
  } cases[] = {
      {255, 256, true}, {256, 256, false}, {0, 1, true}, {1023, 1024, true}, {1024, 1024, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(RegValueFits(RegValue{regtype::kSz, std::string(c.dataSize, 'x')}, c.buffer), c.fits)
        << c.dataSize << " in " << c.buffer;
  }
}

TEST_F(RegistryTest, QueryOnlyKeyCannotWrite) {
  Create("Q");
  RegKey key;
  ASSERT_EQ(registry_.OpenKey(RegRoot::CurrentUser, "Q", regaccess::kQueryValue, false, key),
            regerr::kSuccess);
  EXPECT_EQ(RegSetString(registry_, key, "v", "x"), regerr::kAccessDenied);
  ASSERT_EQ(registry_.OpenKey(RegRoot::CurrentUser, "Q", regaccess::kWrite, false, key),
            regerr::kSuccess);
  RegValue value;
  EXPECT_EQ(registry_.QueryValue(key, "v", value), regerr::kAccessDenied);
}

TEST(RegistryProcesses, TwoProcessesWriteOneHiveAtOnce) {
  TempDir dir;
  const HivePaths paths{dir / "user.hive", dir / "machine.hive"};
  constexpr int kValues = 150;
  pid_t children[2];
  for (int child = 0; child < 2; ++child) {
    children[child] = fork();
    ASSERT_GE(children[child], 0);
    if (children[child] == 0) {
      // Each process has its own connection, made after the fork.
      SqliteRegistry registry(paths);
      int failures = 0;
      for (int i = 0; i < kValues; ++i) {
        RegKey shared;
        RegKey own;
        failures += registry.OpenKey(RegRoot::CurrentUser, "Shared\\Key", regaccess::kAllAccess,
                                     true, shared) != regerr::kSuccess;
        failures += registry.OpenKey(RegRoot::CurrentUser,
                                     "Own" + std::to_string(child) + "\\K" + std::to_string(i),
                                     regaccess::kAllAccess, true, own) != regerr::kSuccess;
        const std::string name = "p" + std::to_string(child) + "v" + std::to_string(i);
        failures += RegSetString(registry, shared, name, name) != regerr::kSuccess;
        failures += RegSetString(registry, own, "v", name) != regerr::kSuccess;
      }
      _exit(failures == 0 ? 0 : 1);
    }
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  SqliteRegistry registry(paths);
  RegKey shared;
  ASSERT_EQ(registry.OpenKey(RegRoot::CurrentUser, "Shared\\Key", regaccess::kRead, false, shared),
            regerr::kSuccess);
  std::vector<std::string> names;
  ASSERT_EQ(registry.EnumValues(shared, names), regerr::kSuccess);
  EXPECT_EQ(names.size(), 2u * kValues);
  for (int child = 0; child < 2; ++child) {
    for (int i = 0; i < kValues; ++i) {
      const std::string name = "p" + std::to_string(child) + "v" + std::to_string(i);
      std::string text;
      EXPECT_EQ(RegQueryString(registry, shared, name, text), regerr::kSuccess);
      EXPECT_EQ(text, name);
    }
    RegKey own;
    std::vector<std::string> keys;
    ASSERT_EQ(registry.OpenKey(RegRoot::CurrentUser, "Own" + std::to_string(child),
                               regaccess::kRead, false, own),
              regerr::kSuccess);
    ASSERT_EQ(registry.EnumSubKeys(own, keys), regerr::kSuccess);
    EXPECT_EQ(keys.size(), static_cast<std::size_t>(kValues));
  }
}

// Another process holding the user hive in a write transaction: every call answers with the
// layer's error after a short wait, instead of waiting long or claiming the key is missing.
TEST(RegistryProcesses, LockedHiveAnswersAnErrorSoon) {
  TempDir dir;
  const HivePaths paths{dir / "user.hive", dir / "machine.hive"};
  {
    SqliteRegistry registry(paths);
    RegKey key;
    ASSERT_EQ(registry.OpenKey(RegRoot::CurrentUser, "App\\Sub", regaccess::kAllAccess, true, key),
              regerr::kSuccess);
    ASSERT_EQ(RegSetString(registry, key, "Width", "640"), regerr::kSuccess);
  }
  int ready[2];
  int go[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(go), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Connected before the lock is taken, as a running client is.
    SqliteRegistry registry(paths);
    RegKey key;
    if (registry.OpenKey(RegRoot::CurrentUser, "App\\Sub", regaccess::kAllAccess, false, key) !=
        regerr::kSuccess) {
      _exit(100);
    }
    char byte = 0;
    if (write(ready[1], &byte, 1) != 1 || read(go[0], &byte, 1) != 1) _exit(101);
    RegValue value;
    RegKey other;
    std::vector<std::string> names;
    const uint32_t results[] = {
        registry.QueryValue(key, "Width", value),
        registry.OpenKey(RegRoot::CurrentUser, "App\\Sub", regaccess::kRead, false, other),
        registry.EnumValues(key, names),
        RegSetString(registry, key, "Width", "800"),
        registry.OpenKey(RegRoot::CurrentUser, "App\\New", regaccess::kAllAccess, true, other),
    };
    int wrong = 0;
    for (const uint32_t rc : results) wrong += rc != regerr::kRegistryIoFailed;
    _exit(wrong);
  }
  close(ready[1]);
  close(go[0]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(paths.user.c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  ASSERT_EQ(write(go[1], &byte, 1), 1);
  int status = 0;
  // Far more than the calls may take (one full wait, then brief looks), far less than a full
  // wait for each of the five.
  const bool exited = testing::Eventually([&] { return waitpid(child, &status, WNOHANG) == child; },
                                          std::chrono::seconds(20));
  if (!exited) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
  }
  sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
  close(ready[0]);
  close(go[1]);
  ASSERT_TRUE(exited) << "the calls waited on the locked hive";
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "calls that did not answer the registry error";
  EXPECT_EQ(Column(paths.user, "SELECT data FROM reg_value"), std::vector<std::string>{"640"});
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// What is found where the user hive should be. A damaged file is kept under a new name and a
// new hive started; a folder is left alone and nothing is stored. Each is said once.
TEST(RegistryDamagedHive, EachKindOfBadFileHasItsOutcomeAndOneMessage) {
  // A hive with a few keys, cut short: its first page is whole, the rest is missing.
  TempDir source;
  {
    SqliteRegistry registry(HivePaths{source / "whole.hive", source / "machine.hive"});
    for (const char* path : {"A\\B", "C", "D\\E\\F"}) {
      RegKey key;
      ASSERT_EQ(registry.OpenKey(RegRoot::CurrentUser, path, regaccess::kAllAccess, true, key),
                regerr::kSuccess);
      ASSERT_EQ(RegSetString(registry, key, "v", std::string(3000, 'x')), regerr::kSuccess);
    }
  }
  const std::string whole = FileBytes(source / "whole.hive");
  ASSERT_GT(whole.size(), 8192u);

  enum class Outcome { Used, MovedAside, Unused };
  struct Case {
    const char* why;
    std::optional<std::string> bytes;  // nullopt: a folder
    Outcome outcome;
  } cases[] = {
      {"garbage bytes", std::string(5000, '\x5a') + "not a database", Outcome::MovedAside},
      {"a truncated database", whole.substr(0, 4096 + 1000), Outcome::MovedAside},
      {"an empty file", std::string(), Outcome::Used},
      {"a folder", std::nullopt, Outcome::Unused},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string hive = dir / "user.hive";
    if (c.bytes) {
      std::ofstream(hive, std::ios::binary) << *c.bytes;
    } else {
      ASSERT_EQ(mkdir(hive.c_str(), 0700), 0);
    }
    ::testing::internal::CaptureStderr();
    uint32_t read = 0;
    uint32_t created = 0;
    uint32_t set = 0;
    {
      SqliteRegistry registry(HivePaths{hive, dir / "machine.hive"});
      RegKey key;
      read = registry.OpenKey(RegRoot::CurrentUser, "A", regaccess::kRead, false, key);
      created = registry.OpenKey(RegRoot::CurrentUser, "A", regaccess::kAllAccess, true, key);
      set = RegSetString(registry, key, "v", "kept");
      registry.OpenKey(RegRoot::CurrentUser, "A", regaccess::kAllAccess, true, key);
    }
    const std::string err = ::testing::internal::GetCapturedStderr();

    std::vector<std::string> others;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      if (entry.path() != hive) others.push_back(entry.path());
    }
    const long lines = std::count(err.begin(), err.end(), '\n');
    switch (c.outcome) {
      case Outcome::Used:
      case Outcome::MovedAside:
        EXPECT_EQ(read, regerr::kFileNotFound) << c.why;
        EXPECT_EQ(created, regerr::kSuccess) << c.why;
        EXPECT_EQ(set, regerr::kSuccess) << c.why;
        EXPECT_EQ(Column(hive, "SELECT data FROM reg_value"), std::vector<std::string>{"kept"})
            << c.why;
        break;
      case Outcome::Unused:
        EXPECT_EQ(read, regerr::kRegistryIoFailed) << c.why;
        EXPECT_EQ(created, regerr::kRegistryIoFailed) << c.why;
        EXPECT_TRUE(std::filesystem::is_directory(hive)) << c.why;
        break;
    }
    if (c.outcome == Outcome::MovedAside) {
      ASSERT_EQ(others.size(), 1u) << c.why;
      const std::string aside = others[0];
      EXPECT_TRUE(std::regex_match(aside, std::regex(".*/user\\.hive\\.corrupt-\\d{8}-\\d{6}")))
          << aside;
      EXPECT_EQ(FileBytes(aside), *c.bytes) << c.why;
      EXPECT_EQ(lines, 1) << c.why << ": " << err;
      EXPECT_NE(err.find(hive + " "), std::string::npos) << err;
      EXPECT_NE(err.find(aside), std::string::npos) << err;
    } else {
      EXPECT_TRUE(others.empty()) << c.why;
      EXPECT_EQ(lines, c.outcome == Outcome::Unused ? 1 : 0) << c.why << ": " << err;
    }
  }
}

// A damaged file is never replaced: a name already taken gets a counter.
TEST(RegistryDamagedHive, MovingAsideKeepsAnEarlierCopy) {
  TempDir dir;
  const std::string hive = dir / "user.hive";
  std::vector<std::string> asides;
  for (const char* bytes : {"first garbage", "second garbage"}) {
    std::ofstream(hive, std::ios::binary) << std::string(2000, '!') << bytes;
    ::testing::internal::CaptureStderr();
    SqliteRegistry registry(HivePaths{hive, dir / "machine.hive"});
    RegKey key;
    EXPECT_EQ(registry.OpenKey(RegRoot::CurrentUser, "A", regaccess::kAllAccess, true, key),
              regerr::kSuccess);
    ::testing::internal::GetCapturedStderr();
    std::filesystem::remove(hive);
  }
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    asides.push_back(FileBytes(entry.path()));
  }
  std::sort(asides.begin(), asides.end());
  EXPECT_EQ(asides, (std::vector<std::string>{std::string(2000, '!') + "first garbage",
                                              std::string(2000, '!') + "second garbage"}));
}

// A hive this user may read but not write: the machine hive as a limited user sees it.
TEST(RegistryReadOnly, UnwritableHiveOpensForQueryOnly) {
  TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  const std::string hive = dir / "machine.hive";
  {
    SqliteRegistry registry(HivePaths{dir / "user.hive", hive});
    RegKey key;
    ASSERT_EQ(registry.OpenKey(RegRoot::LocalMachine, "Software\\Corvana\\Tessaro Utility",
                               regaccess::kAllAccess, true, key),
              regerr::kSuccess);
    ASSERT_EQ(RegSetString(registry, key, "Product Version", "1.0"), regerr::kSuccess);
  }
  // The probe is copied where any user may run it.
  const std::string probe = dir / "registry_probe";
  std::filesystem::copy_file(testing::kRegistryProbe, probe);
  ASSERT_EQ(chmod(probe.c_str(), 0755), 0);
  std::string program = probe;
  std::vector<std::string> args{hive, "software\\corvana\\tessaro utility", "product version"};
  if (geteuid() == 0) {
    program = "/usr/bin/setpriv";
    args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", probe});
  } else {
    ASSERT_EQ(chmod(hive.c_str(), 0444), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
  }
  testing::Process process(program, args);
  ASSERT_TRUE(process.Start());
  EXPECT_EQ(process.WaitForExit(), 0);
  const std::string out = process.Output();
  chmod(dir.path().c_str(), 0755);
  for (const char* line : {"all-access=5\n", "write=5\n", "create=5\n", "query=0\n", "read=0\n",
                           "text=1.0\n", "set=5\n", "delete=5\n", "done\n"}) {
    EXPECT_NE(out.find(line), std::string::npos) << line << " missing in:\n" << out;
  }
  EXPECT_EQ(Column(hive, "SELECT data FROM reg_value"), std::vector<std::string>{"1.0"});
  EXPECT_EQ(Column(hive, "SELECT count(*) FROM reg_key WHERE path LIKE '%New'"),
            std::vector<std::string>{"0"});
}

}  // namespace
}  // namespace tessaro
