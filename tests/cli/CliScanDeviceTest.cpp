// SPDX-License-Identifier: GPL-2.0-or-later
// tessaro-cli scan works on the device as the client's refresh lists it: from the same device list
// it must see the same stored type, display name, state and auto-connect entry, or Scan Now takes
// another path for it on the command line than in the client.
#include "cli/CliScan.h"
#include "tests/support/RefreshFixture.h"

using namespace tessaro;
using namespace tessaro::testing;

namespace {

const Hub kHub{"192.168.1.20", "Office", "00:1C:F0:AA:0B:01", 1, 0};

TEST_F(RefreshTest, ScanCommandSeesEachDeviceAsTheRefreshDoes) {
  const Dev printer{.number = 1, .serial = "P1"};
  const Dev marked{.number = 4,
                   .type = "UNKNOWN",
                   .manufacturer = "Optic",
                   .product = "Flat 9",
                   .vendorId = 0x2E12,
                   .productId = 0x1909,
                   .serial = "S4"};
  const std::vector<Dev> devs = {
      printer,
      Dev{.number = 2,
          .type = "mfp",
          .owner = "PC-A",
          .lockKind = 2,
          .lockCount = 1,
          .serial = "M2"},
      Dev{.number = 3, .type = "Camera", .vendorId = 0x1111, .serial = "C3"},
      marked,
      Dev{.number = 5, .type = "mass storage", .product = "Drive", .serial = "D5"},
      Dev{.number = 6, .type = "SCANNER", .manufacturer = "", .product = "", .serial = ""},
  };
  scannerIds = {"Vid_2E12&Pid_1909"};
  printers.push_back(AutoLinkPrinter::For(KeyOf(kHub, printer), "Front Desk", ""));
  faxes.push_back(AutoLinkPrinter::For(KeyOf(kHub, devs[1]), "Front Fax", ""));
  Listed(kHub, devs);
  ASSERT_EQ(model.rowCount(), devs.size());
  const ServerData& server = *model.servers()[0];

  for (const Dev& dev : devs) {
    const std::string number = std::to_string(dev.number);
    SCOPED_TRACE("device " + number);
    const DeviceData& row = *Row(kHub.ip, number);
    const auto seen = cli::DeviceOnSpur(cycle.driver(), server, state, number);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->handle, row.handle);
    EXPECT_EQ(seen->serverName, row.serverName);
    EXPECT_EQ(seen->Key(), row.Key());
    EXPECT_EQ(seen->DeviceIdentityText, row.DeviceIdentityText);
    EXPECT_EQ(seen->type, row.type);
    EXPECT_EQ(seen->stateText, row.stateText);
    EXPECT_EQ(seen->owner, row.owner);
    EXPECT_EQ(seen->lockKind, row.lockKind);
    EXPECT_EQ(seen->lockCount, row.lockCount);
    EXPECT_EQ(seen->autoPrinterIndex, row.autoPrinterIndex);  // a storage row's mode
    EXPECT_EQ(seen->autoPrinterName, row.autoPrinterName);
    EXPECT_EQ(seen->autoFaxIndex, row.autoFaxIndex);
    EXPECT_EQ(seen->autoFaxName, row.autoFaxName);
    // An unnamed device's numbered caption belongs to the rows; the command has none to give.
    if (dev.manufacturer.empty() && dev.product.empty())
      EXPECT_EQ(seen->displayName, "USB Device");
    else
      EXPECT_EQ(seen->displayName, row.displayName);
  }
  // What the rows hold, so that agreeing means agreeing on the client's words.
  EXPECT_EQ(Row(kHub.ip, "1")->displayName, "Lumen - Laser 2040");
  EXPECT_EQ(Row(kHub.ip, "1")->autoPrinterName, "Front Desk");
  EXPECT_EQ(Row(kHub.ip, "2")->autoFaxName, "Front Fax");
  EXPECT_EQ(Row(kHub.ip, "3")->type, "UNKNOWN");
  EXPECT_EQ(Row(kHub.ip, "4")->type, "Scanner");
  EXPECT_EQ(Row(kHub.ip, "5")->StorageMode(), 0);
  EXPECT_EQ(Row(kHub.ip, "6")->displayName, "USB Device 1");

  EXPECT_FALSE(cli::DeviceOnSpur(cycle.driver(), server, state, "7")) << "not listed";
}

}  // namespace
