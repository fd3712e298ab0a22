// SPDX-License-Identifier: GPL-2.0-or-later
// tessaro-cli auto-print over a scripted bus and a private cupsd: entries stored as the device
// setup stores them, queues refused by its rules, listing and removal.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/CliAutoPrint.h"
#include "cli/CliRunner.h"
#include "platform/linux/CupsSpooler.h"
#include "printing/PortTypes.h"
#include "tests/support/PrivateCups.h"
#include "tests/support/ScriptedCli.h"
#include "tests/support/Watchdog.h"

using namespace tessaro;
using namespace tessaro::cli;
using namespace tessaro::testing;

namespace {

const Hub kHub{"192.168.1.20", "Office", "00:1C:F0:AA:0B:01"};

class CliAutoPrintTest : public ::testing::Test, public ScriptedCli {
 protected:
  using ScriptedCli::Run;  // not the test's own Run
  CliAutoPrintTest()
      : ScriptedCli(kHub, {Dev{}, Dev{.number = 2, .type = "SCANNER", .serial = "S-9"}}) {
    env.defaultGateways = [] { return std::vector<std::string>{kHub.ip}; };
    env.spooler = &spooler;
  }
  void SetUp() override {
    ASSERT_TRUE(cups.Running());
    ASSERT_TRUE(cups.AddQueue("laser", "tessaro://00-1C-F0-AA-0B-01/04F9/0042?serial=LW2040-1"));
    ASSERT_TRUE(cups.AddQueue("fax", "tessaro://00-1C-F0-AA-0B-01/04F9/0042?serial=LW2040-1"));
    ASSERT_TRUE(cups.AddQueue("file", "file:///dev/null"));
    ASSERT_TRUE(cups.AddQueue("raw", "socket://127.0.0.1:9100"));
    ASSERT_TRUE(cups.AddQueue("com", "serial:/dev/ttyS0"));
    ASSERT_TRUE(cups.AddQueue("share", "smb://filer/laser"));
  }

  Watchdog watchdog{std::chrono::seconds(60)};
  PrivateCups cups;
  CupsSpooler spooler{cups.socket()};
};

}  // namespace

TEST_F(CliAutoPrintTest, AddsListsAndRemovesEntries) {
  ASSERT_EQ(Run({"--json", "auto-print", "add", kHub.ip, "1", "laser"}), exitcode::kOk) << err;
  EXPECT_EQ(out, "{\"ok\":true,\"list\":\"printer\",\"index\":0}\n");
  ASSERT_EQ(Run({"--json", "auto-print", "add", kHub.ip, "1", "fax", "--fax"}), exitcode::kOk)
      << err;
  EXPECT_EQ(out, "{\"ok\":true,\"list\":\"fax\",\"index\":0}\n");

  // The device's entry holds both, as the device setup writes them.
  AutoConnectInfo info;
  info.ServerIP = kHub.ip;
  info.ServerMAC = kHub.mac;
  info.DeviceVid = "04F9";
  info.DevicePid = "0042";
  info.DeviceSNo = "LW2040-1";
  ASSERT_TRUE(ReadDeviceEntry(registry, AppRegistryKey, info));
  EXPECT_EQ(info.PrinterName, "laser");
  EXPECT_EQ(info.PrinterPort, "tessaro://00-1C-F0-AA-0B-01/04F9/0042?serial=LW2040-1");
  EXPECT_EQ(info.FaxPrinterName, "fax");
  EXPECT_EQ(info.DeviceType, "PRINTER");

  ASSERT_EQ(Run({"--json", "auto-print", "list"}), exitcode::kOk) << err;
  EXPECT_EQ(out,
            "{\"list\":\"printer\",\"index\":0,\"printerName\":\"laser\",\"serverIp\":"
            "\"192.168.1.20\",\"serverMac\":\"00:1C:F0:AA:0B:01\",\"vendorId\":\"04F9\","
            "\"productId\":\"0042\",\"serial\":\"LW2040-1\"}\n"
            "{\"list\":\"fax\",\"index\":0,\"printerName\":\"fax\",\"serverIp\":"
            "\"192.168.1.20\",\"serverMac\":\"00:1C:F0:AA:0B:01\",\"vendorId\":\"04F9\","
            "\"productId\":\"0042\",\"serial\":\"LW2040-1\"}\n");

  ASSERT_EQ(Run({"--json", "auto-print", "remove", "laser"}), exitcode::kOk) << err;
  EXPECT_EQ(out, "{\"ok\":true,\"removed\":1}\n");
  ASSERT_EQ(Run({"--json", "auto-print", "remove", "laser"}), exitcode::kOk) << err;
  EXPECT_EQ(out, "{\"ok\":true,\"removed\":0}\n");
  ASSERT_EQ(Run({"--json", "auto-print", "list"}), exitcode::kOk) << err;
  EXPECT_EQ(out.find("laser"), std::string::npos) << out;
  EXPECT_NE(out.find("\"fax\""), std::string::npos) << out;
}

TEST_F(CliAutoPrintTest, RefusesWhatTheDeviceSetupRefuses) {
  const struct {
    std::vector<std::string> args;
    const char* reason;
  } cases[] = {
      {{"auto-print", "add", kHub.ip, "1", "missing"}, "there is no queue missing"},
      {{"auto-print", "add", kHub.ip, "1", "file"}, "can never reach the device"},
      {{"auto-print", "add", kHub.ip, "1", "raw"}, "can never reach the device"},
      {{"auto-print", "add", kHub.ip, "1", "com"}, "can never reach the device"},
      {{"auto-print", "add", kHub.ip, "1", "share"}, "can never reach the device"},
      {{"auto-print", "add", kHub.ip, "7", "laser"}, "lists no device 7"},
      {{"auto-print", "add", kHub.ip, "2", "laser"}, "is no printer"},
      {{"auto-print", "add", "10.9.9.9", "1", "laser"}, "lists no device 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    EXPECT_EQ(Run(c.args), exitcode::kFailed);
    EXPECT_NE(err.find(c.reason), std::string::npos) << err;
  }
  ASSERT_EQ(Run({"auto-print", "list"}), exitcode::kOk);
  EXPECT_EQ(out, "");
}

// A monitor leaves its queue paused; once no entry binds the queue nothing would resume it.
TEST_F(CliAutoPrintTest, AQueueUnboundIsReleasedAndABoundOneIsNotTakenAgain) {
  ASSERT_TRUE(cups.AddQueue("laser2", "tessaro://00-1C-F0-AA-0B-01/04F9/0042?serial=LW2040-1"));
  const auto paused = [&](const std::string& queue) {
    return cups.QueueStatus(queue).find("disabled") != std::string::npos;
  };
  const auto pause = [&](const std::string& queue) {
    ASSERT_EQ(cups.Tool("cupsdisable", {"-r", kHeldQueueMessage, queue}).exitCode, 0);
    ASSERT_TRUE(paused(queue));
  };
  ASSERT_EQ(Run({"auto-print", "add", kHub.ip, "1", "laser"}), exitcode::kOk) << err;
  pause("laser");
  // Another queue bound in its place.
  ASSERT_EQ(Run({"auto-print", "add", kHub.ip, "1", "laser2"}), exitcode::kOk) << err;
  EXPECT_FALSE(paused("laser")) << cups.QueueStatus("laser");
  // The same queue bound again stays as its monitor keeps it.
  pause("laser2");
  ASSERT_EQ(Run({"auto-print", "add", kHub.ip, "1", "laser2"}), exitcode::kOk) << err;
  EXPECT_TRUE(paused("laser2"));
  // A queue the printer list binds is not bound to the fax list as well.
  EXPECT_EQ(Run({"auto-print", "add", kHub.ip, "1", "laser2", "--fax"}), exitcode::kFailed);
  EXPECT_NE(err.find("bound already"), std::string::npos) << err;
  ASSERT_EQ(Run({"--json", "auto-print", "list"}), exitcode::kOk);
  EXPECT_EQ(out.find("\"fax\""), std::string::npos) << out;
  // Removed.
  ASSERT_EQ(Run({"auto-print", "remove", "laser2"}), exitcode::kOk) << err;
  EXPECT_FALSE(paused("laser2")) << cups.QueueStatus("laser2");
}

TEST(CliAutoPrintArgs, UsageErrors) {
  for (const auto& args :
       std::vector<std::vector<std::string>>{{},
                                             {"add", "1.2.3.4", "x", "q"},
                                             {"add", "1.2.3.4", "1"},
                                             {"add", "1.2.3.4", "1", "q", "--fox"},
                                             {"remove"},
                                             {"list", "extra"},
                                             {"drop", "q"}}) {
    const auto checked = CheckAutoPrintArgs(args);
    ASSERT_FALSE(checked);
    EXPECT_FALSE(checked.error().empty());
  }
  EXPECT_TRUE(CheckAutoPrintArgs({"add", "1.2.3.4", "1", "q", "--fax"}));
}

TEST(CliAutoPrintArgs, SerialPortsBindOnlyForTheirVendor) {
  EXPECT_FALSE(PortTypeBindable(porttype::kSerial, "04F9"));
  EXPECT_TRUE(PortTypeBindable(porttype::kSerial, "08a6"));
  EXPECT_TRUE(PortTypeBindable(porttype::kOther, "04F9"));
  EXPECT_FALSE(PortTypeBindable(porttype::kLanManager, "04F9"));
  EXPECT_FALSE(PortTypeBindable(std::nullopt, "04F9"));
}
