// SPDX-License-Identifier: GPL-2.0-or-later
// Server entries, device entries and scanner identities against a real hive.
#include <gtest/gtest.h>

#include "tests/autoconnect/StoreFixture.h"

namespace tessaro {
namespace {

const std::string kServerKey = kAutoConnectPath + "\\IP_192.168.0.20&MAC_00:0D:88:12:34:56";

TEST_F(StoreTest, ServerEntryIsWrittenUnderItsNameWithItsValuesInOrder) {
  ServerInfoReg server{"Hub", "192.168.0.20", "00:0D:88:12:34:56", 1, "r1", "", "r3"};
  ASSERT_TRUE(WriteServerEntry(registry_, kAppKey, server));
  EXPECT_EQ(ValueNames(kServerKey),
            (std::vector<std::string>{"ServerName", "ServerIP", "ServerMAC", "ServerEnable",
                                      "Reserve1", "Reserve2", "Reserve3"}));
  EXPECT_EQ(Text(kServerKey, "ServerEnable"), "1");
  EXPECT_EQ(Text(kServerKey, "ServerMAC"), "00:0D:88:12:34:56");

  // Only the enable flag and the reserves are read back.
  ServerInfoReg read{"other name", "192.168.0.20", "00:0D:88:12:34:56", 0, "", "", ""};
  ASSERT_TRUE(ReadServerEntry(registry_, kAppKey, read));
  EXPECT_EQ(read.ServerName, "other name");
  EXPECT_EQ(read.ServerEnable, 1);
  EXPECT_EQ(read.Reserve1, "r1");
  EXPECT_EQ(read.Reserve3, "r3");

  // Turning it off rewrites the same entry.
  server.ServerEnable = 0;
  ASSERT_TRUE(WriteServerEntry(registry_, kAppKey, server));
  ASSERT_TRUE(ReadServerEntry(registry_, kAppKey, read));
  EXPECT_EQ(read.ServerEnable, 0);
}

TEST_F(StoreTest, ReadsOfMissingEntriesFailAndCreateNothing) {
  ServerInfoReg server{"n", "10.0.0.1", "AA:BB:CC:DD:EE:FF", 1, "keep", "", ""};
  EXPECT_FALSE(ReadServerEntry(registry_, kAppKey, server));
  EXPECT_EQ(server.ServerEnable, 1);
  EXPECT_EQ(server.Reserve1, "keep");
  AutoConnectInfo device = Device("04F9", "0027", "A1");
  device.PrinterName = "keep";
  EXPECT_FALSE(ReadDeviceEntry(registry_, kAppKey, device));
  EXPECT_EQ(device.PrinterName, "keep");
  EXPECT_FALSE(Exists(kAutoConnectPath));

  // Listing makes the list key and finds it empty.
  std::vector<std::string> names{"stale"};
  EXPECT_TRUE(ListAutoConnectKeys(registry_, kAppKey, names));
  EXPECT_TRUE(names.empty());
  EXPECT_TRUE(Exists(kAutoConnectPath));
  EXPECT_TRUE(ListScannerIds(registry_, kAppKey, names));
  EXPECT_TRUE(Exists(kAppKey + "\\ScannerId"));
}

TEST_F(StoreTest, DeviceEntryHasItsNameAndTwentyTwoValuesInOrder) {
  struct Case {
    const char* serial;
    const char* key;
  } cases[] = {
      {"A1B2C3", "IP_192.168.0.20&MAC_00:0D:88:12:34:56&Vid_04F9&Pid_0027&SNo_A1B2C3"},
      {"", "IP_192.168.0.20&MAC_00:0D:88:12:34:56&Vid_04F9&Pid_0027&SNo_"},
  };
  for (const Case& c : cases) {
    AutoConnectInfo info = Device("04F9", "0027", c.serial);
    info.PrinterEnable = 1;
    info.PrinterName = "Office";
    info.PrinterPort = "tessaro:/1";
    info.FaxEnable = 0;
    info.FaxPrinterName = "Fax";
    info.ScanIndex = 2;
    info.ScanNameTwain = "Source";
    ASSERT_TRUE(WriteDeviceEntry(registry_, kAppKey, info));
    const std::string path = kAutoConnectPath + "\\" + c.key;
    ASSERT_TRUE(Exists(path)) << c.key;
    EXPECT_EQ(
        ValueNames(path),
        (std::vector<std::string>{
            "ServerName",  "ServerIP",    "ServerMAC",          "DeviceVid",     "DevicePid",
            "DeviceSNo",   "DeviceType",  "DeviceManufacturer", "DeviceProduct", "PrinterEnable",
            "PrinterName", "PrinterPort", "Reserve4",           "Reserve5",      "Reserve6",
            "ScanIndex",   "Reserve7",    "ScanNameTwain",      "Reserve8",      "Reserve1",
            "Reserve2",    "Reserve3"}));
    EXPECT_EQ(Text(path, "PrinterEnable"), "1");
    EXPECT_EQ(Text(path, "Reserve4"), "0");
    EXPECT_EQ(Text(path, "Reserve5"), "Fax");
    EXPECT_EQ(Text(path, "ScanIndex"), "2");
    EXPECT_EQ(Text(path, "Reserve8"), "0");

    AutoConnectInfo read = Device("04F9", "0027", c.serial);
    ASSERT_TRUE(ReadDeviceEntry(registry_, kAppKey, read));
    EXPECT_EQ(read.PrinterName, "Office");
    EXPECT_EQ(read.PrinterPort, "tessaro:/1");
    EXPECT_EQ(read.FaxPrinterName, "Fax");
    EXPECT_EQ(read.ScanIndex, 2);
    EXPECT_EQ(read.ScanNameTwain, "Source");
    EXPECT_EQ(read.PrinterEnable, 1);
  }
}

TEST_F(StoreTest, FlagsAndScanIndexFollowTheReadRules) {
  struct Case {
    const char* text;
    uint8_t flag;
    int32_t scanIndex;
  } cases[] = {
      {"1", 1, 1},  {"0", 0, 0},   {"2", 0, 2},          {"3", 0, 0},           {"yes", 0, 0},
      {"", 0, 0},   {"01", 1, 1},  {"+2", 0, 2},         {"-1", 0, 0},          {"1x", 0, 0},
      {" 1", 0, 0}, {"+-1", 0, 0}, {"4294967297", 0, 0}, {"99999999999", 0, 0},
  };
  const AutoConnectInfo info = Device("04F9", "0027", "S");
  ASSERT_TRUE(WriteDeviceEntry(registry_, kAppKey, info));
  ASSERT_TRUE(WriteServerEntry(registry_, kAppKey,
                               {"Hub", "192.168.0.20", "00:0D:88:12:34:56", 0, "", "", ""}));
  const std::string path = kAutoConnectPath + "\\" + info.Key().EntryName();
  for (const Case& c : cases) {
    for (const char* name : {"PrinterEnable", "Reserve4", "Reserve8", "ScanIndex"}) {
      SetText(path, name, c.text);
    }
    SetText(kServerKey, "ServerEnable", c.text);
    AutoConnectInfo read = Device("04F9", "0027", "S");
    ASSERT_TRUE(ReadDeviceEntry(registry_, kAppKey, read));
    EXPECT_EQ(read.PrinterEnable, c.flag) << '"' << c.text << '"';
    EXPECT_EQ(read.FaxEnable, c.flag) << '"' << c.text << '"';
    EXPECT_EQ(read.Reserve8, c.flag) << '"' << c.text << '"';
    EXPECT_EQ(read.ScanIndex, c.scanIndex) << '"' << c.text << '"';
    ServerInfoReg server{"", "192.168.0.20", "00:0D:88:12:34:56", 0, "", "", ""};
    ASSERT_TRUE(ReadServerEntry(registry_, kAppKey, server));
    EXPECT_EQ(server.ServerEnable, c.flag) << '"' << c.text << '"';
  }
}

TEST_F(StoreTest, MissingOrNonStringValuesReadAsEmptyAndOverwriteTheRecord) {
  const std::string name = "IP_1.2.3.4&MAC_M&Vid_AAAA&Pid_BBBB&SNo_X";
  const std::string path = kAutoConnectPath + "\\" + name;
  SetText(path, "PrinterName", "Only");
  ASSERT_EQ(
      registry_.SetValue(Open(path), "DeviceType", regtype::kDword, std::string("\1\0\0\0", 4)),
      regerr::kSuccess);
  AutoConnectInfo read = Device("AAAA", "BBBB", "X");
  read.ServerIP = "1.2.3.4";
  read.ServerMAC = "M";
  read.FaxPrinterName = "stale";
  read.ScanIndex = 1;
  read.PrinterEnable = 1;
  ASSERT_TRUE(ReadDeviceEntry(registry_, kAppKey, read));
  // Every field comes from the entry, identity fields included.
  EXPECT_EQ(read.PrinterName, "Only");
  EXPECT_EQ(read.DeviceType, "");
  EXPECT_EQ(read.FaxPrinterName, "");
  EXPECT_EQ(read.ServerIP, "");
  EXPECT_EQ(read.DeviceVid, "");
  EXPECT_EQ(read.ScanIndex, 0);
  EXPECT_EQ(read.PrinterEnable, 0);
}

TEST_F(StoreTest, ReadDeviceEntryAtFollowsRegistryOrder) {
  ASSERT_TRUE(WriteDeviceEntry(registry_, kAppKey, Device("04F9", "0027", "b")));
  ASSERT_TRUE(WriteDeviceEntry(registry_, kAppKey, Device("04F9", "0027", "A")));
  ASSERT_TRUE(WriteServerEntry(registry_, kAppKey,
                               {"Hub", "192.168.0.20", "00:0D:88:12:34:56", 1, "", "", ""}));
  std::vector<std::string> names;
  ASSERT_TRUE(ListAutoConnectKeys(registry_, kAppKey, names));
  const std::string server = "IP_192.168.0.20&MAC_00:0D:88:12:34:56";
  EXPECT_EQ(names, (std::vector<std::string>{server, server + "&Vid_04F9&Pid_0027&SNo_A",
                                             server + "&Vid_04F9&Pid_0027&SNo_b"}));
  AutoConnectInfo info;
  ASSERT_TRUE(ReadDeviceEntryAt(registry_, kAppKey, 2, info));
  EXPECT_EQ(info.DeviceSNo, "b");
  ASSERT_TRUE(ReadDeviceEntryAt(registry_, kAppKey, 0, info));  // a server entry reads too
  EXPECT_EQ(info.DeviceVid, "");
  EXPECT_EQ(info.ServerIP, "192.168.0.20");
  EXPECT_FALSE(ReadDeviceEntryAt(registry_, kAppKey, 3, info));
}

TEST_F(StoreTest, IdentityWithABackslashIsRefusedNotSplitIntoKeys) {
  // A serial number is the device's own text; it must not turn into a path of keys.
  EXPECT_FALSE(WriteDeviceEntry(registry_, kAppKey, Device("04F9", "0027", "AB\\CD")));
  std::vector<std::string> names;
  ASSERT_TRUE(ListAutoConnectKeys(registry_, kAppKey, names));
  EXPECT_TRUE(names.empty());
}

TEST_F(StoreTest, ScannerIdsAreAddedListedAndRemoved) {
  ASSERT_TRUE(AddScannerId(registry_, kAppKey, "04A9", "220E", "04A9 - 220E - SN1"));
  ASSERT_TRUE(AddScannerId(registry_, kAppKey, "0001", "0002", "0001 - 0002 - "));
  EXPECT_EQ(Text(kAppKey + "\\ScannerId", "Vid_04A9&Pid_220E"), "04A9 - 220E - SN1");
  std::vector<std::string> names;
  ASSERT_TRUE(ListScannerIds(registry_, kAppKey, names));
  EXPECT_EQ(names, (std::vector<std::string>{"Vid_04A9&Pid_220E", "Vid_0001&Pid_0002"}));

  EXPECT_TRUE(RemoveScannerId(registry_, kAppKey, "04a9", "220e"));  // names ignore case
  EXPECT_TRUE(RemoveScannerId(registry_, kAppKey, "04A9", "220E"));  // already gone
  ASSERT_TRUE(ListScannerIds(registry_, kAppKey, names));
  EXPECT_EQ(names, std::vector<std::string>{"Vid_0001&Pid_0002"});
}

}  // namespace
}  // namespace tessaro
