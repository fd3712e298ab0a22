// SPDX-License-Identifier: GPL-2.0-or-later
// tessaro-cli list over a scripted bus: its failures, its text lines and the first-run rule.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/CliRunner.h"
#include "tests/support/ScriptedCli.h"

using namespace tessaro;
using namespace tessaro::cli;
using namespace tessaro::testing;

namespace {

const Hub kHub{"192.168.1.20", "Office", "00:1C:F0:AA:0B:01"};

class CliListTest : public ::testing::Test, public ScriptedCli {
 protected:
  CliListTest()
      : ScriptedCli(kHub, {Dev{}, Dev{.number = 4, .manufacturer = "", .product = "", .serial = ""}}) {
    env.defaultGateways = [this] { return gateways; };
  }
  int Run(const std::vector<std::string>& args, const ClientEnvironment& e) {
    std::ostringstream o, r;
    const int status = RunCli(args, bus, clock, o, r, e);
    out = o.str();
    err = r.str();
    return status;
  }
  int Run(const std::vector<std::string>& args) { return ScriptedCli::Run(args); }

  std::vector<std::string> gateways;
};

}  // namespace

TEST_F(CliListTest, FirstRunGatewayIsEnabledStoredAndListed) {
  gateways = {kHub.ip, "10.0.0.1"};
  ASSERT_EQ(Run({"list"}), exitcode::kOk) << err;
  EXPECT_EQ(
      out,
      "server Office - 192.168.1.20  mac 00:1C:F0:AA:0B:01  state 1  storage mode 1  enabled\n"
      "  USB Device 1 - Waiting to Connect  [PRINTER]  #4 on Office (192.168.1.20)\n"
      "  Lumen - Laser 2040 - Waiting to Connect  [PRINTER]  #1 on Office (192.168.1.20)\n");
  ServerInfoReg stored;
  stored.ServerIP = kHub.ip;
  stored.ServerMAC = kHub.mac;
  ASSERT_TRUE(ReadServerEntry(registry, AppRegistryKey, stored));
  EXPECT_EQ(stored.ServerEnable, 1);
  EXPECT_EQ(bus.openHandles(), 0) << "every Spur and the Trunk closed";

  // The stored entry ends the first run: the next start has no first-run gateway, but the
  // stored enable keeps the server attached.
  EXPECT_EQ(FirstRunGateway(registry, AppRegistryKey, env.windowsVersionFlags, gateways), "");
  ASSERT_EQ(Run({"--json", "list"}), exitcode::kOk);
  EXPECT_NE(out.find(R"("enabled":true)"), std::string::npos) << out;
}

TEST_F(CliListTest, FirstRunGatewayRule) {
  EXPECT_EQ(FirstRunGateway(registry, AppRegistryKey, 0, {}), "");
  EXPECT_EQ(FirstRunGateway(registry, AppRegistryKey, kWinNT4, {"10.0.0.1"}), "") << "NT 4.0";
  EXPECT_EQ(FirstRunGateway(registry, AppRegistryKey, kWin2000, {"", "10.0.0.1"}), "")
      << "the first adapter has no gateway";
  EXPECT_EQ(FirstRunGateway(registry, AppRegistryKey, kWin2000, {"10.0.0.1", ""}), "10.0.0.1");
  AutoConnectInfo entry;
  entry.ServerIP = "10.0.0.9";
  entry.ServerMAC = "00:00:00:00:00:09";
  entry.DeviceVid = "0001";
  entry.DevicePid = "0002";
  ASSERT_TRUE(WriteDeviceEntry(registry, AppRegistryKey, entry));
  EXPECT_EQ(FirstRunGateway(registry, AppRegistryKey, kWin2000, {"10.0.0.1"}), "");
}

TEST_F(CliListTest, FailuresPrintNothing) {
  struct Case {
    const char* what;
    std::function<void()> arrange;
    int status;
  } cases[] = {
      {"no server list",
       [&] {
         bus.SetReply("trunk/0", busop::kGetServerList,
                      FakeBusTransport::Fail(buserr::kGenFailure));
       },
       exitcode::kFailed},
      {"a device list longer than its buffer",
       [&] {
         auto reply = FakeBusTransport::Success(DeviceList({}));
         reply.bytesReturned = kDeviceListBufferSize + 1;
         bus.SetReply("spur/0", busop::kGetDeviceList, reply);
       },
       exitcode::kFailed},
      {"no Trunk", [&] { bus.SetInterfaces(InterfaceClass::Trunk, std::nullopt); },
       exitcode::kSetupIncomplete},
  };
  gateways = {kHub.ip};
  for (const auto& c : cases) {
    c.arrange();
    EXPECT_EQ(Run({"--json", "list"}), c.status) << c.what;
    EXPECT_EQ(out, "") << c.what;
    EXPECT_NE(err, "") << c.what;
  }
  EXPECT_EQ(Run({"list", "extra"}), exitcode::kUsage);
  EXPECT_EQ(Run({"monitor", "extra"}), exitcode::kUsage);
}

TEST_F(CliListTest, WithoutTheClientsServicesListAndMonitorFail) {
  for (const char* command : {"list", "monitor"}) {
    SCOPED_TRACE(command);
    EXPECT_EQ(Run({command}, ClientEnvironment{}), exitcode::kFailed);
    EXPECT_EQ(out, "");
  }
}
