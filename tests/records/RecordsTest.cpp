// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "records/AutoConnectRecords.h"
#include "records/DeviceKey.h"
#include "records/DeviceTypes.h"
#include "records/Records.h"
#include "records/StateText.h"
#include "records/UnnamedSlots.h"

using namespace tessaro;

TEST(RecordTexts, DisplayNamesAndIdentities) {
  EXPECT_EQ(ServerDisplayName("Office", "192.168.1.20"), "Office - 192.168.1.20");
  EXPECT_EQ(MakeDeviceIdentityText("04F9", "0042", "SER1"), "04F9 - 0042 - SER1");
  EXPECT_EQ(MakeDeviceIdentityText("04F9", "0042", ""), "04F9 - 0042 - ");
  EXPECT_EQ(ScannerIdentityText("04A9", "1909"), "Vid_04A9&Pid_1909");
  EXPECT_EQ(DeviceDisplayName("Lumenco", "LZ-2040"), "Lumenco - LZ-2040");
  EXPECT_EQ(DeviceDisplayName("", "Stick"), " - Stick");
  EXPECT_EQ(DeviceDisplayName("", ""), "USB Device");
  const std::string latin1 = "Gr\xFC\xDF";  // 8-bit texts pass byte for byte
  EXPECT_EQ(DeviceDisplayName(latin1, "X"), latin1 + " - X");
}

TEST(DeviceTypes, NormalisedWordsAndImages) {
  const std::vector<std::string> scanners = {"Vid_04A9&Pid_1909", "vid_1111&pid_2222"};
  struct Case {
    const char* reported;
    const char* vid;
    const char* pid;
    const char* stored;
    int image;
  } cases[] = {
      {"MFP", "0001", "0001", "MFP", 0},
      {"printer", "0001", "0001", "printer", 1},
      {"mass storage", "0001", "0001", "mass storage", 2},
      {"MASS STORAGE", "0001", "0001", "MASS STORAGE", 2},
      {"SCANNER", "0001", "0001", "SCANNER", 3},
      {"SCANNER", "04A9", "1909", "SCANNER", 3},  // only unknown devices become "Scanner"
      {"UNKNOWN", "0001", "0001", "UNKNOWN", 4},
      {"UNKNOWN", "04A9", "1909", "Scanner", 3},
      {"unknown", "04A9", "1909", "Scanner", 3},
      {"CAMERA", "04A9", "1909", "Scanner", 3},  // any other word is unknown first
      {"CAMERA", "0001", "0001", "UNKNOWN", 4},
      {"", "0001", "0001", "UNKNOWN", 4},
      {"MASS STORAGE ", "0001", "0001", "UNKNOWN", 4},
      {"UNKNOWN", "1111", "2222", "Scanner", 3},  // stored ids match without regard to case
  };
  for (const auto& c : cases) {
    const std::string stored = NormalizeDeviceType(c.reported, c.vid, c.pid, scanners);
    EXPECT_EQ(stored, c.stored) << c.reported << " " << c.vid;
    EXPECT_EQ(ImageIndexOf(stored), c.image) << c.reported << " " << c.vid;
  }
  EXPECT_TRUE(IsType("mass storage", devtype::kMassStorage));
}

TEST(UnnamedSlots, LowestFreeNumberIsReused) {
  UnnamedSlots slots;
  EXPECT_EQ(slots.Take(), "USB Device 1");
  EXPECT_EQ(slots.Take(), "USB Device 2");
  EXPECT_EQ(slots.Take(), "USB Device 3");
  slots.Release("USB Device 2");
  EXPECT_EQ(slots.Take(), "USB Device 2");
  EXPECT_EQ(slots.Take(), "USB Device 4");
}

TEST(UnnamedSlots, AllSixtyFourTaken) {
  UnnamedSlots slots;
  for (int i = 1; i <= 64; ++i) ASSERT_EQ(slots.Take(), "USB Device " + std::to_string(i));
  EXPECT_EQ(slots.Take(), "USB Device");
  slots.Release("USB Device");  // a caption without a number frees nothing
  EXPECT_EQ(slots.Take(), "USB Device");
  slots.Release("USB Device 64");
  EXPECT_EQ(slots.Take(), "USB Device 64");
}

TEST(UnnamedSlots, CaptionsThatNameNoSlotFreeNothing) {
  for (const char* caption : {"USB Device 0", "USB Device 65", "USB Device 1x", "USB Device -1",
                              "Lumenco - LZ", "USB Device  1", "USB Device 100"}) {
    UnnamedSlots slots;
    slots.Take();  // slot 1
    slots.Release(caption);
    EXPECT_TRUE(slots.taken(0)) << caption;
  }
}

namespace {

DeviceData Device(const char* type, int autoPrinterIndex, int lockKind, int lockCount,
                  const char* owner) {
  DeviceData d;
  d.type = type;
  d.vendorId = "04A9";
  d.productId = "1909";
  d.autoPrinterIndex = autoPrinterIndex;
  d.lockKind = lockKind;
  d.lockCount = lockCount;
  d.owner = owner;
  return d;
}

}  // namespace

TEST(StateText, Rule) {
  const std::string me = "THIS-PC";
  const std::vector<std::string> marked = {"Vid_04A9&Pid_1909"};
  const std::vector<std::string> none;
  struct Case {
    const char* what;
    DeviceData device;
    const std::vector<std::string>& scanners;
    std::string expected;
  } cases[] = {
      {"printer without an entry, free", Device("PRINTER", -1, 0, 0, ""), none,
       " - Waiting to Connect"},
      {"printer without an entry, held", Device("PRINTER", -1, 2, 1, "OTHER"), none,
       " - Use By (OTHER)"},
      {"scanner not in the list, free", Device("SCANNER", 3, 0, 0, ""), none,
       " - Waiting to Connect"},
      {"scanner not in the list, held by this PC", Device("SCANNER", 3, 1, 1, "THIS-PC"), none,
       " - Use By (THIS-PC)"},
      {"scanner in the list, free", Device("SCANNER", -1, 0, 0, ""), marked,
       " - Available for Use"},
      {"marked unknown device", Device("Scanner", -1, 0, 0, ""), marked, " - Available for Use"},
      {"set up, free", Device("PRINTER", 0, 0, 0, ""), none, " - Available for Use"},
      {"set up, held by another PC", Device("PRINTER", 0, 1, 1, "OTHER"), none,
       " - Use By (OTHER)"},
      {"set up, this PC's automatic lock", Device("PRINTER", 0, 1, 1, "THIS-PC"), none,
       " - Available for Use"},
      {"set up, this PC's manual lock", Device("PRINTER", 0, 2, 1, "THIS-PC"), none,
       " - Use By (THIS-PC)"},
      {"owner compared exactly", Device("PRINTER", 0, 1, 1, "this-pc"), none,
       " - Use By (this-pc)"},
      {"storage with its mode in the index", Device("MASS STORAGE", 1, 0, 0, ""), none,
       " - Available for Use"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DeviceStateText(c.device, c.scanners, me), c.expected) << c.what;
  }
}

// A row, its stored entry and its list entry name one device alike; every field counts for the
// entry, and the look-ups by MAC find the device after its server's address moved.
TEST(DeviceKeys, OneIdentityForRowsAndEntries) {
  DeviceData row;
  row.serverIp = "192.168.0.20";
  row.serverMac = "00:0D:88:12:34:56";
  row.vendorId = "04F9";
  row.productId = "0027";
  row.serial = "A1B2C3";
  const DeviceKey key = row.Key();
  const AutoConnectInfo stored = AutoConnectInfo::For(key);
  EXPECT_EQ(stored.ServerIP, "192.168.0.20");
  EXPECT_EQ(stored.DeviceSNo, "A1B2C3");
  EXPECT_EQ(stored.Key(), key);
  EXPECT_EQ(AutoLinkPrinter::For(key, "Desk", "tessaro:1")->Key(), key);
  EXPECT_EQ(key.EntryName(), "IP_192.168.0.20&MAC_00:0D:88:12:34:56&Vid_04F9&Pid_0027&SNo_A1B2C3");
  EXPECT_EQ(key.IdentityText(), "04F9 - 0027 - A1B2C3");

  for (std::string DeviceKey::*field :
       {&DeviceKey::serverIp, &DeviceKey::serverMac, &DeviceKey::vendorId, &DeviceKey::productId,
        &DeviceKey::serial}) {
    DeviceKey other = key;
    other.*field += "x";
    EXPECT_NE(other, key) << other.EntryName();
    EXPECT_NE(other.EntryName(), key.EntryName());
    EXPECT_EQ(other.SameDeviceAs(key), field == &DeviceKey::serverIp) << other.EntryName();
  }
  DeviceKey lower = key;
  lower.vendorId = "04f9";  // texts compare exactly, as the stored names do
  EXPECT_FALSE(lower.SameDeviceAs(key));
}
