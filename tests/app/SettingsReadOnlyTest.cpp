// SPDX-License-Identifier: GPL-2.0-or-later
// A limited user's client against the installer's machine hive: full access is refused, so the
// reads go through the query-only fallback, and nothing the client writes reaches that hive.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "app/Settings.h"
#include "platform/linux/SqliteRegistry.h"
#include "tests/TestPaths.h"
#include "tests/support/Process.h"

namespace tessaro {
namespace {

constexpr uid_t kNobody = 65534;

std::optional<std::string> Text(const std::string& userHive, const std::string& machineHive,
                                RegRoot root, const std::string& path, const std::string& name) {
  SqliteRegistry registry(HivePaths{userHive, machineHive});
  RegKey key;
  std::string text;
  if (registry.OpenKey(root, path, regaccess::kQueryValue, false, key) != regerr::kSuccess ||
      RegQueryString(registry, key, name, text) != regerr::kSuccess) {
    return std::nullopt;
  }
  return text;
}

TEST(SettingsReadOnly, LimitedUserReadsTheMachineHiveThroughTheQueryOnlyFallback) {
  testing::TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  const std::string machineDir = dir / "machine";
  const std::string userDir = dir / "user";
  ASSERT_EQ(mkdir(machineDir.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(userDir.c_str(), 0700), 0);
  const std::string machineHive = machineDir + "/machine.hive";
  const std::string userHive = userDir + "/user.hive";
  {
    // What the installer (and busd) leave in the machine hive.
    SqliteRegistry installer(HivePaths{dir / "installer-user.hive", machineHive});
    RegKey key;
    ASSERT_EQ(
        installer.OpenKey(RegRoot::LocalMachine, AppRegistryKey, regaccess::kAllAccess, true, key),
        regerr::kSuccess);
    ASSERT_EQ(RegSetString(installer, key, "Product Version", "2.5"), regerr::kSuccess);
    ASSERT_EQ(installer.SetValue(key, "Dword", regtype::kDword, std::string("123\0", 4)),
              regerr::kSuccess);
    ASSERT_EQ(RegSetString(installer, key, "Fits", std::string(255, 'f')), regerr::kSuccess);
    ASSERT_EQ(RegSetString(installer, key, "TooLong", std::string(256, 't')), regerr::kSuccess);
  }

  // The probe is copied where any user may run it.
  const std::string probe = dir / "settings_probe";
  std::filesystem::copy_file(testing::kSettingsProbe, probe);
  ASSERT_EQ(chmod(probe.c_str(), 0755), 0);
  std::string program = probe;
  std::vector<std::string> args{userHive, machineHive, "product version", "Dword",
                                "Fits",   "TooLong",   "Missing"};
  if (geteuid() == 0) {
    // Root may write any file: the reading side runs as nobody, whose own hive folder it is.
    ASSERT_EQ(chown(userDir.c_str(), kNobody, kNobody), 0);
    program = "/usr/bin/setpriv";
    args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", probe});
  } else {
    ASSERT_EQ(chmod(machineHive.c_str(), 0444), 0);
    ASSERT_EQ(chmod(machineDir.c_str(), 0555), 0);
  }
  testing::Process process(program, args);
  ASSERT_TRUE(process.Start());
  EXPECT_EQ(process.WaitForExit(), 0);
  const std::string out = process.Output();
  chmod(machineDir.c_str(), 0755);

  const std::string lines[] = {
      "read product version=2.5\n",
      // The fallback takes the bytes whatever the type, up to the first NUL.
      "read Dword=123\n",
      // 255 bytes and the NUL fill the 256-byte buffer; one more does not fit.
      "read Fits=" + std::string(255, 'f') + "\n",
      "read TooLong=(unchanged)\n",
      "read Missing=(unchanged)\n",
      "ProductVersion=2.5\n",
      "done\n",
  };
  for (const std::string& line : lines) {
    EXPECT_NE(out.find(line), std::string::npos) << line << " missing in:\n" << out;
  }
  // The machine hive is as the installer left it; the user's own hive got the defaults.
  EXPECT_EQ(Text(userHive, machineHive, RegRoot::LocalMachine, AppRegistryKey, "Product Version"),
            "2.5");
  EXPECT_EQ(Text(userHive, machineHive, RegRoot::LocalMachine,
                 std::string(AppRegistryKey) + "\\New", "Name"),
            std::nullopt);
  EXPECT_EQ(Text(userHive, machineHive, RegRoot::CurrentUser, AppRegistryKey, "Notify Check Days"),
            "60");
  EXPECT_EQ(Text(userHive, machineHive, RegRoot::CurrentUser, AppRegistryKey, "MainForm Width"),
            "289");
}

}  // namespace
}  // namespace tessaro
