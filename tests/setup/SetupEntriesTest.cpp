// SPDX-License-Identifier: GPL-2.0-or-later
// What the wizard's openings read from and write into a device entry.
#include <gtest/gtest.h>

#include <optional>

#include "setup/SetupEntries.h"

namespace tessaro::setup {
namespace {

SetupDeviceIdentity Device() {
  return {"Hub", {"10.0.0.5", "00-11-22-33-44-55", "04B8", "0005", "SN1"}, "MFP", "Maker", "Model"};
}

TEST(SetupEntries, SetUpStateFollowsTheStoredEntry) {
  AutoConnectInfo entry;
  EXPECT_FALSE(PrinterIsSetUp(std::nullopt));
  EXPECT_FALSE(PrinterIsSetUp(entry));
  entry.PrinterName = "Office Laser";
  EXPECT_FALSE(PrinterIsSetUp(entry));  // named but switched off
  entry.PrinterEnable = 1;
  EXPECT_TRUE(PrinterIsSetUp(entry));
  EXPECT_FALSE(ScannerIsSetUp(entry));
  entry.ScanIndex = 2;
  EXPECT_FALSE(ScannerIsSetUp(entry));
  entry.ScanIndex = 1;
  EXPECT_TRUE(ScannerIsSetUp(entry));
}

TEST(SetupEntries, PrinterOpeningWritesIdentityAndPrinterOnly) {
  const AutoConnectInfo entry =
      PrinterEntryAfterSetup(Device(), true, {"Office Laser", "tessaro://hub/04B8"});
  EXPECT_EQ(entry.ServerName, "Hub");
  EXPECT_EQ(entry.ServerIP, "10.0.0.5");
  EXPECT_EQ(entry.DeviceSNo, "SN1");
  EXPECT_EQ(entry.DeviceType, "MFP");
  EXPECT_EQ(entry.DeviceProduct, "Model");
  EXPECT_EQ(entry.PrinterEnable, 1);
  EXPECT_EQ(entry.PrinterName, "Office Laser");
  EXPECT_EQ(entry.PrinterPort, "tessaro://hub/04B8");
  EXPECT_EQ(entry.ScanIndex, 0);
  EXPECT_TRUE(entry.FaxPrinterName.empty());
}

TEST(SetupEntries, ScannerOpeningKeepsOnlyIdentityAndScanChoice) {
  const AutoConnectInfo entry = ScannerEntryAfterSetup(Device(), 1, "Flatbed");
  EXPECT_EQ(entry.ServerMAC, "00-11-22-33-44-55");
  EXPECT_EQ(entry.DevicePid, "0005");
  EXPECT_EQ(entry.ScanIndex, 1);
  EXPECT_EQ(entry.ScanNameTwain, "Flatbed");
  EXPECT_TRUE(entry.ServerName.empty());
  EXPECT_TRUE(entry.DeviceType.empty());
  EXPECT_TRUE(entry.PrinterName.empty());
}

TEST(SetupEntries, OnlyASetUpDeviceOnLaterWindowsStaysLinked) {
  EXPECT_TRUE(ReleaseAfterRun(false, false));
  EXPECT_TRUE(ReleaseAfterRun(false, true));
  EXPECT_TRUE(ReleaseAfterRun(true, true));
  EXPECT_FALSE(ReleaseAfterRun(true, false));
}

}  // namespace
}  // namespace tessaro::setup
