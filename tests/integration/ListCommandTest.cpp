// SPDX-License-Identifier: GPL-2.0-or-later
// tessaro-cli list: one refresh as the client makes it, with the PC's own user hive, against a
// real busd and two device servers.
#include <gtest/gtest.h>

#include "app/Settings.h"
#include "autoconnect/AutoConnectStore.h"
#include "platform/linux/SqliteRegistry.h"
#include "tests/support/Lab.h"

using namespace tessaro;
using namespace tessaro::testing;

namespace {

const HubSpec kOffice{"127.0.0.2", "OFFICE-HUB", "00:1C:F0:AA:0B:01", PrinterAndStorage(), {}};
const HubSpec kStudio{"127.0.0.3", "LAB-HUB", "00:1C:F0:AA:0B:02", MfpAndScanner(), {}};

void StoreServer(Registry& registry, const HubSpec& hub, bool enabled) {
  ServerInfoReg reg;
  reg.ServerName = hub.name;
  reg.ServerIP = hub.ip;
  reg.ServerMAC = hub.mac;
  reg.ServerEnable = enabled ? 1 : 0;
  ASSERT_TRUE(WriteServerEntry(registry, AppRegistryKey, reg));
}

}  // namespace

TEST(ListCommand, ServersThenRowsWithTheUsersHive) {
  Lab lab;
  lab.StartHub(kOffice);
  lab.StartHub(kStudio);
  auto& pc = lab.StartPc("PC-A", {kOffice.ip, kStudio.ip});
  ASSERT_TRUE(lab.WaitForServerState(pc, kOffice.ip, "1"));
  ASSERT_TRUE(lab.WaitForServerState(pc, kStudio.ip, "1"));
  {
    SqliteRegistry registry(HivePaths{pc.userHive, pc.userHive + ".machine"});
    StoreServer(registry, kOffice, true);
    StoreServer(registry, kStudio, true);
    // The printer is bound to a print queue; the camera is declared a scanner.
    AutoConnectInfo printer;
    printer.ServerName = kOffice.name;
    printer.ServerIP = kOffice.ip;
    printer.ServerMAC = kOffice.mac;
    printer.DeviceVid = "04F9";
    printer.DevicePid = "0042";
    printer.DeviceSNo = "LW2040-00731";
    printer.DeviceType = "PRINTER";
    printer.PrinterEnable = 1;
    printer.PrinterName = "Front Desk";
    ASSERT_TRUE(WriteDeviceEntry(registry, AppRegistryKey, printer));
    ASSERT_TRUE(AddScannerId(registry, AppRegistryKey, "2E12", "1909", "2E12 - 1909 - "));
  }

  const CommandResult result = lab.Cli(pc, {"list"});
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  const auto lines = result.Lines();
  ASSERT_EQ(lines.size(), 6u) << result.out << result.err;
  EXPECT_EQ(
      lines[0],
      R"({"server":true,"displayName":"LAB-HUB - 127.0.0.3","name":"LAB-HUB","ip":"127.0.0.3",)"
      R"("mac":"00:1C:F0:AA:0B:02","state":"1","storageMode":1,"enabled":true})");
  EXPECT_EQ(ParseFlatJson(lines[1])["name"], "OFFICE-HUB");
  EXPECT_EQ(
      lines[4],
      R"({"displayName":"Lumen - Laser 2040","stateText":" - Available for Use","type":"PRINTER",)"
      R"("serverName":"OFFICE-HUB","serverIp":"127.0.0.2","serverMac":"00:1C:F0:AA:0B:01",)"
      R"("deviceNumber":"1","owner":"","lockKind":0,"lockCount":0,"vendorId":"04F9",)"
      R"("productId":"0042","serial":"LW2040-00731","manufacturer":"Lumen","product":"Laser 2040",)"
      R"("DeviceIdentityText":"04F9 - 0042 - LW2040-00731","autoPrinterName":"Front Desk",)"
      R"("autoPrinterIndex":0,"autoFaxName":"","autoFaxIndex":-1,"imageIndex":1})");
  // List order: by type, unknown last; storage carries its server's storage mode.
  JsonLine storage = ParseFlatJson(lines[2]);
  EXPECT_EQ(storage["type"], "mass storage");
  EXPECT_EQ(storage["imageIndex"], "2");
  EXPECT_EQ(storage["autoPrinterIndex"], "1");
  EXPECT_EQ(storage["stateText"], " - Waiting to Connect");
  EXPECT_EQ(ParseFlatJson(lines[3])["type"], "MFP");
  JsonLine camera = ParseFlatJson(lines[5]);
  EXPECT_EQ(camera["displayName"], "USB Device 1");
  EXPECT_EQ(camera["type"], "Scanner");
  EXPECT_EQ(camera["imageIndex"], "3");
  EXPECT_EQ(camera["deviceNumber"], "5");

  // A second run sees the same: nothing of the first one's numbering or Spurs stays behind.
  const CommandResult again = lab.Cli(pc, {"list"});
  EXPECT_EQ(again.Lines(), lines);
}

TEST(ListCommand, FirstRunEnablesNothingWithoutAGatewayAndDisabledServersHaveNoRows) {
  Lab lab;
  lab.StartHub(kOffice);
  auto& pc = lab.StartPc("PC-A", {kOffice.ip});
  ASSERT_TRUE(lab.WaitForServerState(pc, kOffice.ip, "1"));
  // Only loopback in this namespace: no default gateway, so nothing is enabled.
  const CommandResult result = lab.Cli(pc, {"list"});
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  ASSERT_EQ(result.Lines().size(), 1u);
  EXPECT_EQ(ParseFlatJson(result.Lines()[0])["enabled"], "false");
  EXPECT_EQ(lab.CliJson(pc, {"spurs"}).size(), 0u) << "a disabled server is not attached";
}
