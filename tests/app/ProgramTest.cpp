// SPDX-License-Identifier: GPL-2.0-or-later
// The real program on Qt's off-screen platform, next to a real busd, each case in its own
// network namespace: single instance, the autostart switch, the missing bus, the first start.
#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>
#include <sstream>

#include "app/Settings.h"
#include "platform/RegistryText.h"
#include "platform/linux/SqliteRegistry.h"
#include "tests/TestPaths.h"
#include "tests/support/Process.h"

using tessaro::testing::ReadTextFile;

namespace tessaro {
namespace {

using testing::Process;
using testing::TempDir;

std::string Binary(const std::string& relative) {
  return std::string(testing::kBinaryDir) + "/" + relative;
}

class ProgramTest : public ::testing::Test {
 protected:
  ProgramTest() {
    // A 1024 x 768 screen, so the centred placement is known.
    testing::WriteTextFile(dir_ / "screen.json",
                           R"({"screens":[{"name":"s0","x":0,"y":0,"width":1024,"height":768,)"
                           R"("logicalDpi":96,"logicalBaseDpi":96,"dpr":1}]})");
  }

  std::map<std::string, std::string> Env() const {
    return {{"TESSARO_RUNTIME_DIR", dir_ / "run"},
            {"TESSARO_USER_HIVE", dir_ / "user.hive"},
            {"TESSARO_MACHINE_HIVE", dir_ / "machine.hive"},
            {"TESSARO_LOCK_DIR", dir_ / "lock"},
            {"TESSARO_COMPUTERNAME", "PC-A"},
            {"TESSARO_TRACE", "1"},
            {"TESSARO_UI_LOG", dir_ / "ui.log"},
            {"XDG_RUNTIME_DIR", dir_ / "xdg"},
            {"QT_QPA_PLATFORM", "offscreen:configfile=" + (dir_ / "screen.json")}};
  }

  void StartBusd() {
    busd_ = std::make_unique<Process>(
        Binary("busd/tessaro-busd"),
        std::vector<std::string>{"--runtime-dir", dir_ / "run", "--computer-name", "PC-A",
                                 "--group", "root", "--no-discovery", "--machine-hive",
                                 dir_ / "machine.hive"});
    ASSERT_TRUE(busd_->Start());
    ASSERT_TRUE(busd_->WaitForOutput("busd: ready")) << busd_->Output();
  }

  std::unique_ptr<Process> Client(std::vector<std::string> args = {}) {
    auto client = std::make_unique<Process>(Binary("app/tessaro-utility"), std::move(args), Env());
    EXPECT_TRUE(client->Start());
    return client;
  }

  std::optional<std::string> UserText(const std::string& name) {
    SqliteRegistry registry(HivePaths{dir_ / "user.hive", dir_ / "machine.hive"});
    RegKey key;
    RegValue value;
    if (registry.OpenKey(RegRoot::CurrentUser, AppRegistryKey, regaccess::kQueryValue, false,
                         key) != regerr::kSuccess ||
        registry.QueryValue(key, name, value) != regerr::kSuccess) {
      return std::nullopt;
    }
    return value.data;
  }
  void SetUserText(const std::string& name, const std::string& text) {
    SqliteRegistry registry(HivePaths{dir_ / "user.hive", dir_ / "machine.hive"});
    RegWriteText(registry, RegRoot::CurrentUser, AppRegistryKey, name, false, true, text);
  }

  TempDir dir_;
  std::unique_ptr<Process> busd_;
};

TEST_F(ProgramTest, FirstStartWritesTheDefaultsAndTheCloseSavesThePlacement) {
  StartBusd();
  auto client = Client();
  ASSERT_TRUE(client->WaitForOutput("main window shown")) << client->Output();
  const std::pair<const char*, std::string> expected[] = {
      {"MainForm Width", "289"},   {"MainForm Height", "351"},    {"MainForm Top", "208"},
      {"MainForm Left", "367"},    {"MainForm WindowState", "0"}, {"Notify Device Detect", "1"},
      {"Notify New Version", "1"}, {"Notify Check Days", "60"},   {"Notify Last Date", "0"},
  };
  for (const auto& [name, text] : expected) EXPECT_EQ(UserText(name), text) << name;
  EXPECT_EQ(UserText("AutoRun Check"), std::nullopt);
  EXPECT_NE(client->Output().find("tray icon added"), std::string::npos);

  // The session ends: the close sequence runs and the program ends by itself.
  SetUserText("MainForm Left", "1");
  client->Signal(SIGTERM);
  EXPECT_EQ(client->WaitForExit(), 0) << client->Output();
  EXPECT_NE(client->Output().find("closed"), std::string::npos);
  EXPECT_EQ(UserText("MainForm Left"), "367");
}

TEST_F(ProgramTest, SecondStartHandsOverToTheFirstAndEnds) {
  StartBusd();
  auto first = Client({"-mini"});
  ASSERT_TRUE(first->WaitForOutput("main window hidden")) << first->Output();
  auto second = Client();
  EXPECT_EQ(second->WaitForExit(), 0);
  EXPECT_EQ(second->Output().find("tray icon added"), std::string::npos) << second->Output();
  // The hidden first copy shows its window again, at its restored top.
  EXPECT_TRUE(first->WaitForOutputCount("main window shown", 2)) << first->Output();
}

TEST_F(ProgramTest, AutostartSwitchHonoursAutoRunCheck) {
  StartBusd();
  SetUserText("AutoRun Check", "0");
  auto mini = Client({"-mini"});
  EXPECT_EQ(mini->WaitForExit(), 0);
  EXPECT_EQ(mini->Output(), "");  // nothing shown, no tray icon, no firewall step
  EXPECT_EQ(ReadTextFile(dir_ / "ui.log"), "");

  // Another spelling is not the switch: an ordinary start.
  auto upper = Client({"-MINI"});
  EXPECT_TRUE(upper->WaitForOutput("main window shown")) << upper->Output();
  upper->Signal(SIGTERM);
  EXPECT_EQ(upper->WaitForExit(), 0);
}

TEST_F(ProgramTest, WithoutTheBusShowsTheSetupMessageAndLeavesNoTrayIcon) {
  auto client = Client();
  EXPECT_EQ(client->WaitForExit(), 0);
  // The fixed text, then why: no busd answers in this test's runtime folder.
  EXPECT_EQ(ReadTextFile(dir_ / "ui.log"),
            "message\t0\tCorvana\tTessaro Utility setup is incomplete!\\n\\nPlease reinstall "
            "again.\\n\\nThe bus daemon tessaro-busd is not running. Next step: systemctl status "
            "tessaro-busd\n");
  EXPECT_EQ(client->Output().find("tray icon added"), std::string::npos) << client->Output();
}

// The installer step writes the version with an outside tool; the client's own reader, through
// the read-only fallback, must find it.
TEST_F(ProgramTest, InstallerStepWritesTheVersionTheClientReads) {
  const std::string script = std::string(testing::kSourceDir) + "/tessaro.sh";
  const std::string command = "TESSARO_BUILD_DIR='" + std::string(testing::kBinaryDir) +
                              "' TESSARO_MACHINE_HIVE='" + (dir_ / "machine.hive") +
                              "' XDG_DATA_HOME='" + (dir_ / "data") + "' XDG_CONFIG_HOME='" +
                              (dir_ / "config") + "' bash '" + script + "' install >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  ASSERT_EQ(std::system(command.c_str()), 0);  // again: one value, updated in place

  SqliteRegistry registry(HivePaths{dir_ / "user.hive", dir_ / "machine.hive"});
  std::string version;
  RegReadText(registry, RegRoot::LocalMachine, AppRegistryKey, "Product Version", version);
  EXPECT_EQ(version, "1.0");
  RegKey key;
  std::vector<std::string> names;
  ASSERT_EQ(
      registry.OpenKey(RegRoot::LocalMachine, AppRegistryKey, regaccess::kQueryValue, false, key),
      regerr::kSuccess);
  registry.EnumValues(key, names);
  EXPECT_EQ(names, std::vector<std::string>{"Product Version"});

  const std::string program = std::string(testing::kBinaryDir) + "/app/tessaro-utility";
  EXPECT_NE(ReadTextFile(dir_ / "data/applications/tessaro-utility.desktop")
                .find("Exec=" + program + "\n"),
            std::string::npos);
  EXPECT_NE(ReadTextFile(dir_ / "config/autostart/tessaro-utility.desktop")
                .find("Exec=" + program + " -mini\n"),
            std::string::npos);
}

}  // namespace
}  // namespace tessaro
