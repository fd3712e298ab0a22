// SPDX-License-Identifier: GPL-2.0-or-later
// The real program's own Timer_NotifyVer against an update server on loopback, next to a real
// busd, in a network namespace of its own: the first-run check, its notice and its failure.
#include <gtest/gtest.h>

#include <signal.h>

#include <thread>

#include "base/Product.h"
#include "platform/RegistryText.h"
#include "platform/linux/SqliteRegistry.h"
#include "tests/TestPaths.h"
#include "tests/options/LoopbackHttpServer.h"
#include "tests/support/Process.h"

namespace tessaro {
namespace {

using testing::Process;
using testing::ReadTextFile;
using testing::TempDir;

std::string Binary(const std::string& relative) {
  return std::string(testing::kBinaryDir) + "/" + relative;
}

// The client counts the network as ready when its computer name resolves to an address other
// than loopback; a literal address does so without any name service, and nothing listens there.
const char kComputerName[] = "10.77.0.1";

const char kNewerReply[] =
    "<?xml version=\"1.0\"?><Query><Default><FW_Version><Major>1</Major><Minor>10</Minor>"
    "<Date>2008-07-10</Date></FW_Version><Download_Site><Europe><Firmware>http://eu.example/"
    "tu.exe</Firmware></Europe><Global><Firmware>http://www.example/tu.exe</Firmware></Global>"
    "</Download_Site></Default></Query>";

class UpdateProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SqliteRegistry registry(Hives());
    RegKey key;
    ASSERT_EQ(
        registry.OpenKey(RegRoot::LocalMachine, AppRegistryKey, regaccess::kAllAccess, true, key),
        regerr::kSuccess);
    ASSERT_EQ(RegSetString(registry, key, "Product Version", "1.9"), regerr::kSuccess);
    busd_ = std::make_unique<Process>(
        Binary("busd/tessaro-busd"),
        std::vector<std::string>{"--runtime-dir", dir_ / "run", "--computer-name", kComputerName,
                                 "--group", "root", "--no-discovery", "--machine-hive",
                                 dir_ / "machine.hive"});
    ASSERT_TRUE(busd_->Start());
    ASSERT_TRUE(busd_->WaitForOutput("busd: ready")) << busd_->Output();
  }

  HivePaths Hives() const { return {dir_ / "user.hive", dir_ / "machine.hive"}; }

  std::unique_ptr<Process> Client() {
    const std::map<std::string, std::string> env = {{"TESSARO_RUNTIME_DIR", dir_ / "run"},
                                                    {"TESSARO_USER_HIVE", dir_ / "user.hive"},
                                                    {"TESSARO_MACHINE_HIVE", dir_ / "machine.hive"},
                                                    {"TESSARO_LOCK_DIR", dir_ / "lock"},
                                                    {"TESSARO_COMPUTERNAME", kComputerName},
                                                    {"TESSARO_TRACE", "1"},
                                                    {"TESSARO_UI_LOG", dir_ / "ui.log"},
                                                    {"TESSARO_UPDATE_URL", server_.BaseUrl()},
                                                    {"XDG_RUNTIME_DIR", dir_ / "xdg"},
                                                    {"QT_QPA_PLATFORM", "offscreen"}};
    auto client =
        std::make_unique<Process>(Binary("app/tessaro-utility"), std::vector<std::string>{}, env);
    EXPECT_TRUE(client->Start());
    return client;
  }

  std::string LastNoticeDate() {
    SqliteRegistry registry(Hives());
    std::string text;
    RegReadText(registry, RegRoot::CurrentUser, AppRegistryKey, "Notify Last Date", text);
    return text;
  }

  TempDir dir_;
  testing::LoopbackHttpServer server_;
  std::unique_ptr<Process> busd_;
};

TEST_F(UpdateProgramTest, TheFirstRunCheckAnnouncesANumericallyNewerVersion) {
  server_.Script({200, kNewerReply});
  auto client = Client();
  ASSERT_TRUE(client->WaitForOutput("new version notice: v1.10 http://www.example/tu.exe"))
      << client->Output();
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].rfind("GET /router/firmware/query.asp?model=CQXV_A1_Default ", 0), 0u);
  EXPECT_NE(LastNoticeDate(), "0");
  EXPECT_EQ(ReadTextFile(dir_ / "ui.log"), "");
  client->Signal(SIGTERM);
  EXPECT_EQ(client->WaitForExit(), 0) << client->Output();
}

TEST_F(UpdateProgramTest, AFailedFirstRunCheckTellsTheUserAndKeepsTheFirstRunDate) {
  server_.Script({404, "gone"});
  auto client = Client();
  ASSERT_TRUE(client->WaitForOutput("main window shown")) << client->Output();
  std::string log;
  for (int i = 0; i < 100 && log.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    log = ReadTextFile(dir_ / "ui.log");
  }
  EXPECT_NE(log.find("Connection failed, please try again."), std::string::npos) << log;
  EXPECT_EQ(server_.Requests().size(), 1u);
  EXPECT_NE(LastNoticeDate(), "0");  // the first run starts the notice period all the same
  EXPECT_EQ(client->Output().find("new version notice"), std::string::npos);
  client->Signal(SIGTERM);
  EXPECT_EQ(client->WaitForExit(), 0) << client->Output();
}

}  // namespace
}  // namespace tessaro
