// SPDX-License-Identifier: GPL-2.0-or-later
// What hubd makes of a real USB device's sysfs facts: sound texts from hostile strings, the type
// word, the key its number is kept under, and the list PCs see once config sections have their say.
#include <gtest/gtest.h>

#include "hubd/UsbDevices.h"
#include "tests/support/Process.h"

using namespace tessaro::hubd;
using tessaro::testing::ReadTextFile;
using tessaro::testing::TempDir;
using tessaro::testing::WriteTextFile;

namespace {

struct TextCase {
  const char* what;
  std::string raw;
  std::string kept;
  std::string why;
};

TEST(UsbText, HostileStringsAreKeptAsFarAsTheyAreSound) {
  const TextCase cases[] = {
      {"plain, with sysfs's newline", "Laser 2040\n", "Laser 2040", ""},
      {"UTF-8 stays", "Dr\xC3\xBC" "cker \xE2\x82\xAC", "Dr\xC3\xBC" "cker \xE2\x82\xAC", ""},
      {"escape sequence", "A\x1B[31mB\n", "A[31mB", "control bytes dropped"},
      {"newline inside", "Evil\nCorp", "EvilCorp", "control bytes dropped"},
      {"stray continuation byte", "a\x80z", "a?z", "invalid UTF-8 made '?'"},
      {"overlong encoding of '/'", "\xC0\xAF", "??", "invalid UTF-8 made '?'"},
      {"surrogate", "\xED\xA0\x80", "???", "invalid UTF-8 made '?'"},
      {"truncated sequence at the end", "ok\xE2\x82", "ok??", "invalid UTF-8 made '?'"},
      {"overlong string", std::string(300, 'x'), std::string(126, 'x'), "cut to 126 bytes"},
      {"cut never splits a character", std::string(125, 'x') + "\xC3\xBC",
       std::string(125, 'x'), "cut to 126 bytes"},
      {"all at once", "\x01\xFF" + std::string(200, 'y'), "?" + std::string(125, 'y'),
       "control bytes dropped, invalid UTF-8 made '?', cut to 126 bytes"},
      {"empty", "", "", ""},
  };
  for (const TextCase& c : cases) {
    std::string why;
    EXPECT_EQ(SanitizeUsbText(c.raw, why), c.kept) << c.what;
    EXPECT_EQ(why, c.why) << c.what;
  }
}

UsbDevice Device(std::string port, uint16_t vid, uint16_t pid, std::string serial,
                 std::vector<UsbClassTriple> interfaces, uint8_t deviceClass = 0) {
  UsbDevice d;
  d.sysPath = "/sys/devices/pci0000:00/usb1/" + port;
  d.port = std::move(port);
  d.vendorId = vid;
  d.productId = pid;
  d.serial = std::move(serial);
  d.product = "P" + d.port;
  d.interfaces = std::move(interfaces);
  d.deviceClass.cls = deviceClass;
  return d;
}

TEST(UsbFacts, TypeWordClassesAndKeys) {
  const UsbClassTriple printer{7, 1, 2}, image{6, 1, 1}, storage{8, 6, 0x50}, vendor{0xff, 0xff, 0xff};
  const struct {
    UsbDevice device;
    const char* type;
    const char* usbClass;
    const char* interfaces;
  } cases[] = {
      {Device("1-1", 1, 2, "S", {printer}), "PRINTER", "07/01/02", ""},
      {Device("1-1", 1, 2, "S", {image}), "SCANNER", "06/01/01", ""},
      {Device("1-1", 1, 2, "S", {printer, vendor, image}), "MFP", "", "07/01/02,ff/ff/ff,06/01/01"},
      {Device("1-1", 1, 2, "S", {storage}), "MASS STORAGE", "08/06/50", ""},
      // Anything else keeps its class under the word UNKNOWN.
      {Device("1-1", 1, 2, "S", {{3, 1, 1}}), "UNKNOWN", "03/01/01", ""},
      {Device("1-1", 1, 2, "S", {vendor}), "UNKNOWN", "ff/ff/ff", ""},
      {Device("1-1", 1, 2, "S", {}, 0xe0), "UNKNOWN", "e0/00/00", ""},
  };
  for (const auto& c : cases) {
    const DeviceConfig d = DescribeUsbDevice(c.device, 5);
    EXPECT_EQ(d.type, c.type) << c.interfaces;
    EXPECT_EQ(d.usbClass, c.usbClass) << c.type;
    EXPECT_EQ(d.interfaces, c.interfaces) << c.type;
    EXPECT_TRUE(d.usb);
  }
  std::vector<UsbClassTriple> many(14, storage);
  EXPECT_EQ(DescribeUsbDevice(Device("1-1", 1, 2, "", many), 1).interfaces.size(),
            10 * 9 - 1) << "at most 10 functions go to PCs";
  EXPECT_TRUE(IsUsbHub(Device("1-2", 0x05e3, 0x0608, "", {{9, 0, 0}}, 9)));
  EXPECT_EQ(UsbDeviceKey(Device("1-1", 0x04f9, 0x42, "LW 1", {})), "04f9 0042 serial LW 1");
  EXPECT_EQ(UsbDeviceKey(Device("1-2.1", 0x04b8, 0x110, "", {})), "04b8 0110 port 1-2.1");
}

TEST(UsbDeviceNumbers, LowestFreeFirstThenKeptAcrossRestarts) {
  TempDir dir;
  const std::string path = dir / "hub.ini.usb-numbers";
  {
    DeviceNumbers numbers(path, nullptr);
    std::string error;
    ASSERT_TRUE(numbers.Load(error)) << error;  // no file yet: no numbers
    // 1 and 3 belong to the config.
    EXPECT_EQ(numbers.NumberFor("a", {1, 3}, {}), 2);
    EXPECT_EQ(numbers.NumberFor("b", {1, 3}, {2}), 4);
    EXPECT_EQ(numbers.NumberFor("a", {1, 3}, {}), 2) << "the same device, the same number";
  }
  EXPECT_NE(ReadTextFile(path).find("2 a\n4 b\n"), std::string::npos) << ReadTextFile(path);
  DeviceNumbers again(path, nullptr);
  std::string error;
  ASSERT_TRUE(again.Load(error));
  EXPECT_EQ(again.NumberFor("b", {1, 3}, {}), 4) << "kept while unplugged and across a restart";
  EXPECT_EQ(again.NumberFor("c", {1, 3}, {}), 5);
  // The config took 4 since: that device moves to the lowest free number.
  EXPECT_EQ(again.NumberFor("b", {1, 3, 4}, {}), 6);
}

TEST(UsbDeviceNumbers, FullTableReusesAnUnpluggedDevicesNumberAndBadLinesAreSkipped) {
  TempDir dir;
  const std::string path = dir / "numbers";
  std::string text = "# comment\n0 zero\n200 too big\nx not a number\n5\n";
  for (int n = 1; n <= 127; ++n) text += std::to_string(n) + " dev" + std::to_string(n) + "\n";
  text += "7 a second line for 7\n";
  WriteTextFile(path, text);
  std::vector<std::string> log;
  DeviceNumbers numbers(path, [&log](const std::string& line) { log.push_back(line); });
  std::string error;
  ASSERT_TRUE(numbers.Load(error));
  EXPECT_EQ(log.size(), 5u);
  std::set<uint8_t> present;
  for (uint8_t n = 1; n <= 127; ++n)
    if (n != 9) present.insert(n);
  EXPECT_EQ(numbers.NumberFor("new", {}, present), 9) << "device 9 is not plugged in";
  present.insert(9);
  EXPECT_EQ(numbers.NumberFor("newer", {}, present), std::nullopt) << "all 127 are in use";
  EXPECT_EQ(numbers.NumberFor("dev7", {}, present), 7);
}

TEST(UsbDeviceList, SectionsNameHideAndReserveAndHubsStayOut) {
  const auto config = ParseConfig(
      "[server]\naddress = 127.0.0.2\nusb = yes\n"
      "[device 1]\ntype = PRINTER\nvendor-id = 1111\nproduct-id = 2222\n"
      "[device 10]\nmatch = 04f9:0042:LW-1\nproduct = Front Desk\neject-veto = 6\n"
      "eject-veto-name = busy\noutput-folder = /var/tmp/x\n"
      "[device 11]\nmatch = 0781:5567\nhide = yes\n"
      "[device 12]\nusb-port = 1-4\n"
      "[device 13]\nmatch = aaaa:bbbb\n",  // not plugged in: listed as nothing
      "hub.ini");
  ASSERT_TRUE(config.config) << config.error;
  const std::vector<UsbDevice> plugged = {
      Device("1-1", 0x04f9, 0x0042, "LW-1", {{7, 1, 2}}),
      Device("1-2", 0x0781, 0x5567, "STICK", {{8, 6, 0x50}}),
      Device("1-3", 0x04b8, 0x0110, "", {{6, 1, 1}}),
      Device("1-4", 0x1234, 0x0001, "", {{3, 0, 0}}),
      Device("1-5", 0x05e3, 0x0608, "", {{9, 0, 0}}, 9),  // a hub
      Device("1-6", 0x04f9, 0x0042, "LW-2", {{7, 1, 2}}),  // same model, other serial
  };
  DeviceNumbers numbers("", nullptr);
  std::vector<std::string> log;
  const auto list = MergeUsbDevices(config.config->devices, plugged, numbers,
                                    [&log](const std::string& l) { log.push_back(l); });
  std::vector<std::pair<int, std::string>> seen;
  for (const DeviceConfig& d : list) seen.emplace_back(d.number, d.type + " " + d.product);
  const std::vector<std::pair<int, std::string>> expected = {
      {1, "PRINTER "},          // described in the file, as ever
      {2, "SCANNER P1-3"},      // the lowest number the config leaves free
      {3, "PRINTER P1-6"},
      {10, "PRINTER Front Desk"},
      {12, "UNKNOWN P1-4"},
  };
  EXPECT_EQ(seen, expected);
  const DeviceConfig& named = list[3];
  EXPECT_EQ(named.ejectVeto, 6u);
  EXPECT_EQ(named.ejectVetoName, "busy");
  EXPECT_EQ(named.outputFolder, "/var/tmp/x");
  EXPECT_TRUE(log.empty());
}

TEST(UsbDeviceList, NumbersPathSitsBesideThePins) {
  EXPECT_EQ(UsbNumbersPath("/etc/tessaro/hub.ini.pins"), "/etc/tessaro/hub.ini.usb-numbers");
  EXPECT_EQ(UsbNumbersPath("/var/lib/keys"), "/var/lib/keys.usb-numbers");
}

}  // namespace
