// SPDX-License-Identifier: GPL-2.0-or-later
// This PC's key file: made once, kept, closed to other users, and never replaced when damaged
// (servers have pinned the key it held).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "base/Product.h"
#include "busd/Options.h"
#include "busd/PcKeyFile.h"
#include "platform/RegistryText.h"
#include "platform/linux/SqliteRegistry.h"
#include "tests/support/Process.h"

using tessaro::testing::ReadTextFile;

using namespace tessaro;
using namespace tessaro::busd;

namespace {

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}

}  // namespace

TEST(PcKeyFile, MadeOnceBesideTheHiveAndKeptAfterwards) {
  tessaro::testing::TempDir dir;
  const std::string path = KeyPathFor(dir / "machine.hive");
  EXPECT_EQ(path, dir / "machine.hive.key");
  const KeyFileResult first = LoadOrMakeKey(path);
  ASSERT_TRUE(first.key) << first.error;
  EXPECT_TRUE(first.made);
  EXPECT_EQ(ModeOf(path), 0600u);
  const KeyFileResult second = LoadOrMakeKey(path);
  ASSERT_TRUE(second.key) << second.error;
  EXPECT_FALSE(second.made);
  EXPECT_EQ(second.key->publicKey(), first.key->publicKey());
  // Another hive is another PC.
  const KeyFileResult other = LoadOrMakeKey(KeyPathFor(dir / "other.hive"));
  ASSERT_TRUE(other.key);
  EXPECT_NE(other.key->publicKey(), first.key->publicKey());
}

TEST(PcKeyFile, AKeyOthersCouldReadIsClosedToThem) {
  tessaro::testing::TempDir dir;
  const std::string path = dir / "m.hive.key";
  const auto made = LoadOrMakeKey(path);
  ASSERT_TRUE(made.key);
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  const auto loaded = LoadOrMakeKey(path);
  ASSERT_TRUE(loaded.key) << loaded.error;
  EXPECT_EQ(loaded.key->publicKey(), made.key->publicKey());
  EXPECT_NE(loaded.notice.find("readable by others"), std::string::npos) << loaded.notice;
  EXPECT_EQ(ModeOf(path), 0600u);
}

TEST(PcKeyFile, ADamagedKeyIsAnErrorAndStaysAsItIs) {
  const std::string seed(64, 'a');
  const struct Case {
    const char* what;
    std::string text;
  } cases[] = {
      {"empty", ""},
      {"without its first line", seed + "\n"},
      {"seed cut short", "tessaro-pc-key 1\n" + seed.substr(2) + "\n"},
      {"seed not hex", "tessaro-pc-key 1\n" + std::string(63, 'a') + "g\n"},
      {"another version", "tessaro-pc-key 2\n" + seed + "\n"},
      {"something after the seed", "tessaro-pc-key 1\n" + seed + "\nmore\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tessaro::testing::TempDir dir;
    const std::string path = dir / "m.hive.key";
    tessaro::testing::WriteTextFile(path, c.text);
    ::chmod(path.c_str(), 0600);
    const auto r = LoadOrMakeKey(path);
    EXPECT_FALSE(r.key);
    EXPECT_NE(r.error.find("damaged"), std::string::npos) << r.error;
    EXPECT_EQ(ReadTextFile(path), c.text);
  }
  tessaro::testing::TempDir dir;
  // A link or a folder in its place is not taken either, nor replaced.
  const std::string link = dir / "link.key";
  tessaro::testing::WriteTextFile(dir / "elsewhere", "tessaro-pc-key 1\n" + seed + "\n");
  ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), link.c_str()), 0);
  EXPECT_FALSE(LoadOrMakeKey(link).key);
  ASSERT_EQ(::mkdir((dir / "folder.key").c_str(), 0700), 0);
  EXPECT_FALSE(LoadOrMakeKey(dir / "folder.key").key);
  // Nowhere to write one: no key, and a reason.
  const auto nowhere = LoadOrMakeKey(dir / "missing/m.hive.key");
  EXPECT_FALSE(nowhere.key);
  EXPECT_FALSE(nowhere.error.empty());
}

// What an installation runs: the key once, and the installed version where the client reads it,
// over a stale version an older installation left.
TEST(PcKeyFile, InstallMakesTheKeyAndRecordsTheInstalledVersion) {
  tessaro::testing::TempDir dir;
  Options options;
  options.machineHive = dir / "machine.hive";
  {
    HivePaths hives;
    hives.machine = options.machineHive;
    SqliteRegistry registry(hives);
    ASSERT_EQ(RegWriteText(registry, RegRoot::LocalMachine, AppRegistryKey, "Product Version",
                           false, true, "0.9"),
              0u);
  }
  std::vector<std::string> logged;
  const Logger log("busd", [&](LogLevel, const std::string& line) { logged.push_back(line); });
  ASSERT_EQ(Install(options, log), 0);
  const std::string key = ReadTextFile(KeyPathFor(options.machineHive));
  ASSERT_EQ(Install(options, log), 0);
  EXPECT_EQ(ReadTextFile(KeyPathFor(options.machineHive)), key) << "the key was replaced";
  ASSERT_FALSE(logged.empty());
  EXPECT_EQ(logged.back(), std::string("busd: installed version ") + ProductVersion +
                               " recorded in " + options.machineHive);
  HivePaths hives;
  hives.machine = options.machineHive;
  SqliteRegistry registry(hives);
  std::string version;
  RegReadText(registry, RegRoot::LocalMachine, AppRegistryKey, "Product Version", version);
  EXPECT_EQ(version, ProductVersion);

  options.machineHive = dir / "missing/machine.hive";
  EXPECT_NE(Install(options, log), 0) << "a hive that cannot be made is a failure";
}
