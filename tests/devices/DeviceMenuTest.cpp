// SPDX-License-Identifier: GPL-2.0-or-later
// The device menu as a table over DeviceData, the stored device entry and the Windows version.
#include "tests/support/RefreshFixture.h"

#include "devices/DeviceMenu.h"
#include "host/WindowsVersion.h"

using namespace tessaro;
using namespace tessaro::testing;

namespace {

constexpr uint32_t kModern = kWinVistaOrLater | kWinNT5OrLater;
constexpr uint32_t kWindows2000 = kWinNT5OrLater | kWin2000;

DeviceData Device(std::string type, std::string owner = "", int lockKind = 0,
                  int autoPrinterIndex = -1) {
  DeviceData d;
  d.type = std::move(type);
  d.owner = std::move(owner);
  d.lockKind = lockKind;
  d.lockCount = lockKind != 0;
  d.autoPrinterIndex = autoPrinterIndex;
  return d;
}

AutoConnectInfo Entry(uint8_t printerEnable, std::string printer, int32_t scanIndex,
                      std::string twain = "") {
  AutoConnectInfo e;
  e.PrinterEnable = printerEnable;
  e.PrinterName = std::move(printer);
  e.ScanIndex = scanIndex;
  e.ScanNameTwain = std::move(twain);
  return e;
}

// The visible items other than separators: "caption" or "caption (disabled)".
std::vector<std::string> Visible(const std::vector<DeviceMenuItem>& menu) {
  std::vector<std::string> out;
  for (const auto& item : menu) {
    if (!item.visible || item.command == DeviceCommand::None) continue;
    out.push_back(item.caption + (item.enabled ? "" : " (disabled)"));
  }
  return out;
}

}  // namespace

TEST(DeviceMenu, ItemsForEachKindOfRow) {
  struct Case {
    const char* what;
    DeviceData device;
    std::optional<AutoConnectInfo> stored;
    uint32_t windows;
    std::vector<std::string> visible;
  } cases[] = {
      {"held by another PC with a manual lock: only Request To Use",
       Device("PRINTER", "PC-B", 2),
       Entry(1, "Desk", 1),
       kModern,
       {"Request To Use"}},
      {"held by another PC automatically: Connect, not Request To Use",
       Device("PRINTER", "PC-B", 1),
       std::nullopt,
       kModern,
       {"Manage Device", "Connect"}},
      {"a free printer without auto-connect entry",
       Device("PRINTER"),
       std::nullopt,
       kModern,
       {"Manage Device", "Connect"}},
      {"a printer with an auto-connect entry",
       Device("mfp", "", 0, 0),
       std::nullopt,
       kModern,
       {"TroubleShooting", "Connect"}},
      {"our own printer is disconnected",
       Device("PRINTER", "PC-A", 2, 0),
       std::nullopt,
       kModern,
       {"TroubleShooting", "Disconnect"}},
      {"a printer that scans through this client",
       Device("MFP"),
       Entry(1, "Desk", 1),
       kModern,
       {"Manage Device", "Scan Now", "Connect"}},
      {"scanning not chosen",
       Device("MFP"),
       Entry(1, "Desk", 2),
       kModern,
       {"Manage Device", "Connect"}},
      {"printer of the entry disabled",
       Device("MFP"),
       Entry(0, "Desk", 1),
       kModern,
       {"Manage Device", "Connect"}},
      {"no printer named in the entry",
       Device("MFP"),
       Entry(1, "", 1),
       kModern,
       {"Manage Device", "Connect"}},
      {"older Windows needs the TWAIN source",
       Device("MFP"),
       Entry(1, "Desk", 1),
       kWindows2000,
       {"Manage Device", "Connect"}},
      {"older Windows with a TWAIN source",
       Device("MFP"),
       Entry(1, "Desk", 1, "Corvid TWAIN"),
       kWindows2000,
       {"Manage Device", "Scan Now", "Connect"}},
      {"NT 4 too", Device("MFP"), Entry(1, "Desk", 1), kWinNT4, {"Manage Device", "Connect"}},
      {"a scanner",
       Device("SCANNER"),
       std::nullopt,
       kModern,
       {"TroubleShooting", "Scan Now", "Connect"}},
      {"a marked scanner",
       Device("Scanner", "PC-A", 1),
       std::nullopt,
       kModern,
       {"TroubleShooting", "Scan Now", "Disconnect"}},
      {"an unknown device", Device("UNKNOWN"), std::nullopt, kModern, {"Manage Device", "Connect"}},
      {"a storage device has no setup item",
       Device("MASS STORAGE", "PC-A", 2),
       std::nullopt,
       kModern,
       {"Disconnect"}},
  };
  for (const auto& c : cases) {
    const auto menu = DeviceMenuItems(c.device, c.stored, "PC-A", c.windows);
    EXPECT_EQ(Visible(menu), c.visible) << c.what;
  }
}

TEST(DeviceMenu, FixedItemsImagesAndCommands) {
  const auto menu = DeviceMenuItems(Device("SCANNER"), std::nullopt, "PC-A", kModern);
  std::vector<std::string> names;
  for (const auto& item : menu) names.push_back(item.name);
  EXPECT_EQ(names, (std::vector<std::string>{"PrintManageDevMItem", "ScanManageDevMItem", "N2",
                                             "ScanNowMItem", "N6", "ConnectMItem",
                                             "DisconnectMItem", "RequestUseMItem"}));
  EXPECT_TRUE(menu[2].visible && menu[4].visible) << "separators are never hidden";
  EXPECT_EQ(menu[5].imageIndex, 0);
  EXPECT_EQ(menu[6].imageIndex, 1);
  EXPECT_EQ(menu[7].imageIndex, 4);
  EXPECT_EQ(menu[1].command, DeviceCommand::ScanManageDevice);
  EXPECT_EQ(menu[3].command, DeviceCommand::ScanNow);
  EXPECT_FALSE(menu[6].enabled) << "hidden commands are disabled too";
  for (const auto& item : menu) EXPECT_FALSE(item.checked);
}

TEST(DeviceMenu, QuickScan) {
  EXPECT_TRUE(QuickScanRuns(Device("SCANNER"), std::nullopt, kModern));
  EXPECT_TRUE(QuickScanRuns(Device("MFP"), Entry(1, "Desk", 1), kModern));
  EXPECT_FALSE(QuickScanRuns(Device("MFP"), Entry(1, "Desk", 1), kWindows2000));
  EXPECT_FALSE(QuickScanRuns(Device("PRINTER"), std::nullopt, kModern));
  EXPECT_FALSE(QuickScanRuns(Device("MASS STORAGE"), std::nullopt, kModern));
  EXPECT_FALSE(QuickScanRuns(Device("UNKNOWN"), std::nullopt, kModern));
}

// Before the menu opens, the row's stored entry decides Scan Now and its auto-connect entries
// are looked up again (the caption still reflects what the row held).
TEST_F(RefreshTest, PrepareDeviceMenuReadsTheStoreAndRefreshesTheRow) {
  const Hub hub{"192.168.1.20", "Office", "00:1C:F0:AA:0B:01"};
  Listed(hub, {Dev{.number = 1, .type = "MFP"},
               Dev{.number = 2, .type = "MASS STORAGE", .serial = "KS"}});
  AutoConnectInfo entry = AutoConnectInfo::For(KeyOf(hub, Dev{}));
  entry.PrinterEnable = 1;
  entry.PrinterName = "Desk";
  entry.ScanIndex = 1;
  ASSERT_TRUE(WriteDeviceEntry(registry, kAppKey, entry));
  printers.push_back(AutoLinkPrinter::For(KeyOf(hub, Dev{}), "Desk", ""));

  const size_t mfp = *model.FindRow(hub.name, hub.ip, "1");
  const auto menu = PrepareDeviceMenu(model, mfp, registry, state);
  EXPECT_EQ(Visible(menu), (std::vector<std::string>{"Manage Device", "Scan Now", "Connect"}));
  EXPECT_EQ(model.row(mfp).autoPrinterIndex, 0);
  EXPECT_EQ(model.row(mfp).autoPrinterName, "Desk");

  const size_t storage = *model.FindRow(hub.name, hub.ip, "2");
  const int32_t storageMode = model.row(storage).autoPrinterIndex;
  PrepareDeviceMenu(model, storage, registry, state);
  EXPECT_EQ(model.row(storage).autoPrinterIndex, storageMode) << "a storage row keeps its mode";
}
