// SPDX-License-Identifier: GPL-2.0-or-later
// What a headless user needs beyond the driver calls: server enable|disable written as the tray
// writes it, COMMAND --help, and failures that say why.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>

#include <filesystem>
#include <sstream>

#include "cli/CliArgs.h"
#include "cli/CliRunner.h"
#include "platform/linux/TrunkDiagnosis.h"
#include "protocol/BusFrame.h"
#include "tests/support/ScriptedCli.h"

using namespace tessaro;
using namespace tessaro::cli;
using namespace tessaro::testing;

namespace {

const Hub kHub{"192.168.1.20", "Office", "00:1C:F0:AA:0B:01"};
constexpr const char* kSetupMessage =
    "Tessaro Utility setup is incomplete!\n\nPlease reinstall again.\n";

class CliServerTest : public ::testing::Test, public ScriptedCli {
 protected:
  using ScriptedCli::Run;  // not the test's own Run
  CliServerTest()
      : ScriptedCli(kHub, {Dev{}, Dev{.number = 2, .owner = "PC-B", .lockKind = 1, .lockCount = 1}}) {}
  std::optional<uint8_t> StoredEnable() {
    ServerInfoReg stored;
    stored.ServerIP = kHub.ip;
    stored.ServerMAC = kHub.mac;
    if (!ReadServerEntry(registry, AppRegistryKey, stored)) return std::nullopt;
    return stored.ServerEnable;
  }
};

}  // namespace

TEST_F(CliServerTest, EnableAndDisableAreWhatListSees) {
  // Not the default gateway: listed, but disabled and without its devices.
  ASSERT_EQ(Run({"--json", "list"}), exitcode::kOk) << err;
  EXPECT_NE(out.find(R"("enabled":false)"), std::string::npos) << out;
  EXPECT_EQ(out.find("deviceNumber"), std::string::npos) << out;

  ASSERT_EQ(Run({"--json", "server", "enable", kHub.ip}), exitcode::kOk) << err;
  EXPECT_EQ(out, "{\"ok\":true}\n");
  EXPECT_EQ(StoredEnable(), 1);
  ASSERT_EQ(Run({"--json", "list"}), exitcode::kOk) << err;
  EXPECT_NE(out.find(R"("enabled":true)"), std::string::npos) << out;
  EXPECT_NE(out.find(R"("deviceNumber":"2")"), std::string::npos) << "its devices listed: " << out;

  ASSERT_EQ(Run({"server", "disable", kHub.ip}), exitcode::kOk) << err;
  EXPECT_EQ(StoredEnable(), 0);
  ASSERT_EQ(Run({"--json", "list"}), exitcode::kOk) << err;
  EXPECT_NE(out.find(R"("enabled":false)"), std::string::npos) << out;
  EXPECT_EQ(bus.openHandles(), 0);
}

TEST_F(CliServerTest, ServerCommandFailures) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string errPart;
  } cases[] = {
      {{"server", "enable", "10.1.1.1"}, exitcode::kNoSuchSpur, "lists no server at 10.1.1.1"},
      {{"server"}, exitcode::kUsage, "usage: server enable IP"},
      {{"server", "enable"}, exitcode::kUsage, "usage: server enable IP"},
      {{"server", "start", kHub.ip}, exitcode::kUsage, "usage: server enable IP"},
      {{"server", "enable", kHub.ip, "extra"}, exitcode::kUsage, "usage: server enable IP"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(c.args), c.status) << c.args.back();
    EXPECT_EQ(out, "") << c.args.back();
    EXPECT_NE(err.find(c.errPart), std::string::npos) << err;
  }
  EXPECT_EQ(StoredEnable(), std::nullopt) << "nothing written";

  bus.SetReply("trunk/0", busop::kGetServerList, FakeBusTransport::Fail(buserr::kGenFailure));
  EXPECT_EQ(Run({"server", "enable", kHub.ip}), exitcode::kFailed);
  EXPECT_EQ(out, "");
}

TEST_F(CliServerTest, EveryCommandHasItsHelp) {
  for (const char* command :
       {"trunk-version", "servers", "spurs", "attach", "devices", "spur-version", "link",
        "unlink", "lock", "unlock", "request", "watch", "list", "server", "auto-print",
        "monitor", "save-pages", "scan"}) {
    ASSERT_EQ(Run({command, "--help"}), exitcode::kOk) << command;
    EXPECT_EQ(out.rfind(std::string("usage: tessaro-cli [--json] ") + command, 0), 0u) << out;
    EXPECT_GT(out.size(), 40u + std::string(command).size()) << command << ": says what it does";
    EXPECT_EQ(err, "");
    // Usage text names the command too, so nobody finds a command without its help.
    EXPECT_NE(UsageText().find(command), std::string::npos) << command;
  }
  // Help needs no bus: it answers even with busd gone.
  bus.SetInterfaces(InterfaceClass::Trunk, std::nullopt);
  EXPECT_EQ(Run({"--json", "server", "enable", "--help"}), exitcode::kOk);
  EXPECT_EQ(Run({"frobnicate", "--help"}), exitcode::kUsage);
  EXPECT_EQ(out, "");
}

TEST_F(CliServerTest, DeviceFailuresSayWhy) {
  bus.SetReply("spur/0", busop::kLinkDevice, FakeBusTransport::Fail(buserr::kGenFailure));
  bus.SetReply("spur/0", busop::kUnlinkDevice, FakeBusTransport::Fail(buserr::kGenFailure));
  bus.SetReply("spur/0", busop::kLockDevice, FakeBusTransport::Fail(buserr::kGenFailure));
  struct Case {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"link", kHub.ip, "2"}, "tessaro-cli: link failed: device 2 is held by PC-B\n"},
      {{"link", kHub.ip, "9"}, "tessaro-cli: link failed: the server at 192.168.1.20 has no "
                               "device 9\n"},
      {{"unlink", kHub.ip, "1"}, "tessaro-cli: unlink failed: device 1 is not linked to this PC\n"},
      {{"lock", kHub.ip, "2", "1", "30"}, "tessaro-cli: lock failed: device 2 is held by PC-B\n"},
      // A free device and a failed link: the list shows no reason, the message stays short.
      {{"link", kHub.ip, "1"}, "tessaro-cli: link failed\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(c.args), exitcode::kFailed);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, c.message);
  }
  // A failed list reads as no devices, which tells nothing: the plain message stays.
  bus.SetReply("spur/0", busop::kGetDeviceList, FakeBusTransport::Fail(buserr::kGenFailure));
  EXPECT_EQ(Run({"link", kHub.ip, "2"}), exitcode::kFailed);
  EXPECT_EQ(err, "tessaro-cli: link failed\n");
}

TEST_F(CliServerTest, NoTrunkAddsTheCauseBelowTheSetupMessage) {
  bus.SetInterfaces(InterfaceClass::Trunk, std::vector<std::string>{});
  env.userName = "alice";
  struct Case {
    TrunkProblem problem;
    std::string cause;
  } cases[] = {
      {TrunkProblem::NotRunning,
       "\nThe bus daemon tessaro-busd is not running. Next step: systemctl status tessaro-busd\n"},
      {TrunkProblem::NoAccess,
       "\nThe user alice is not in the group tessaro, which may use the bus daemon. Add it with: "
       "sudo usermod -aG tessaro alice (then log in again).\n"},
      {TrunkProblem::Unknown, ""},
  };
  for (const auto& c : cases) {
    env.diagnoseTrunk = [&] { return c.problem; };
    EXPECT_EQ(Run({"servers"}), exitcode::kSetupIncomplete);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, kSetupMessage + c.cause);
  }
}

TEST(TrunkDiagnosisTest, ReadsTheRuntimeFolder) {
  TempDir dir;
  const std::string runtime = dir / "run";
  EXPECT_EQ(DiagnoseTrunk(runtime), TrunkProblem::NotRunning) << "no folder";
  std::filesystem::create_directories(busipc::ClassFolder(runtime, true));
  EXPECT_EQ(DiagnoseTrunk(runtime), TrunkProblem::NotRunning) << "a folder left without sockets";

  // A socket in the Trunk folder: busd is there, so something else went wrong.
  const std::string path = busipc::ClassFolder(runtime, true) + "/0";
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof(addr.sun_path));
  path.copy(addr.sun_path, path.size());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  EXPECT_EQ(DiagnoseTrunk(runtime), TrunkProblem::Unknown);
  ::close(fd);
}
