// SPDX-License-Identifier: GPL-2.0-or-later
// The device database busd writes into a machine hive (SQLite in a temporary folder), read back
// the way the client's lookups read it: instance keys under Vid&Pid, composite interfaces found
// through ParentIdPrefix, still-image entries through Driver, IEEE 1284.4 functions through the
// DOT4USB and DOT4 enumerators. And which device lists count as a device arriving.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <regex>
#include <thread>

#include "busd/DeviceArrival.h"
#include "busd/DeviceDatabase.h"
#include "busd/DeviceKeys.h"
#include "busd/DeviceWriter.h"
#include "platform/linux/SqliteRegistry.h"
#include "protocol/UsbLayout.h"
#include "tests/support/Process.h"

using namespace tessaro;
using namespace tessaro::busd;

namespace {

const uint32_t kServerIp = ::inet_addr("127.0.0.2");
const std::string kUsb = "SYSTEM\\CurrentControlSet\\Enum\\USB\\";
const std::string kEnum = "SYSTEM\\CurrentControlSet\\Enum\\";
const std::string kClass = "SYSTEM\\CurrentControlSet\\Control\\Class\\";
const std::string kUsbGuid = "{36FC9E60-C465-11CF-8056-444553540000}";
const std::string kImageGuid = "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}";

using Strings = std::vector<std::string>;

const Logger kLog("busd", StderrLogSink());

wire::DeviceInfo Device(uint8_t number, uint16_t vid, uint16_t pid, std::string type,
                        std::string serial, wire::Descriptors descriptors = {}) {
  wire::DeviceInfo d;
  d.number = number;
  d.vendorId = vid;
  d.productId = pid;
  d.type = std::move(type);
  d.manufacturer = "Corvid";
  d.product = "Duo 4500";
  d.serial = std::move(serial);
  d.owner = "PC-A";
  d.descriptors = std::move(descriptors);
  return d;
}

class DeviceDatabaseTest : public ::testing::Test {
 protected:
  // Empty when written, else the failure.
  std::string Write(const wire::DeviceInfo& d) {
    const auto written = DeviceDatabase(hive).Write(DescribeDeviceRecord(kServerIp, d));
    return written ? std::string() : written.error();
  }
  // Reads as the client does: a missing key or value reads as empty.
  std::string Sz(const std::string& path, const std::string& name) {
    RegKey key;
    std::string text;
    if (hive.OpenKey(RegRoot::LocalMachine, path, regaccess::kRead, false, key) == 0)
      RegQueryString(hive, key, name, text);
    return text;
  }
  uint32_t Dword(const std::string& path, const std::string& name) {
    RegKey key;
    uint32_t value = 0;
    if (hive.OpenKey(RegRoot::LocalMachine, path, regaccess::kRead, false, key) == 0)
      RegQueryDword(hive, key, name, value);
    return value;
  }
  Strings Multi(const std::string& path, const std::string& name) {
    RegKey key;
    Strings list;
    if (hive.OpenKey(RegRoot::LocalMachine, path, regaccess::kRead, false, key) == 0)
      RegQueryMultiString(hive, key, name, list);
    return list;
  }
  Strings SubKeys(const std::string& path) {
    RegKey key;
    Strings names;
    if (hive.OpenKey(RegRoot::LocalMachine, path, regaccess::kRead, false, key) == 0)
      hive.EnumSubKeys(key, names);
    return names;
  }
  Strings Values(const std::string& path) {
    RegKey key;
    Strings names;
    if (hive.OpenKey(RegRoot::LocalMachine, path, regaccess::kRead, false, key) == 0)
      hive.EnumValues(key, names);
    return names;
  }
  // The interface key a lookup finds: the last instance under Vid&Pid&MI_0n naming the prefix.
  std::string Interface(const std::string& ids, int n, const std::string& prefix) {
    std::string found;
    const std::string base = kUsb + ids + "&MI_0" + std::to_string(n);
    for (const auto& name : SubKeys(base))
      if (name.find(prefix) != std::string::npos) found = base + "\\" + name;
    return found;
  }

  tessaro::testing::TempDir dir;
  SqliteRegistry hive{HivePaths{"", dir / "machine.hive"}};
};

}  // namespace

TEST_F(DeviceDatabaseTest, SingleFunctionDevicesAndTheirDriverNumbers) {
  ASSERT_EQ(Write(Device(1, 0x04F9, 0x0042, "PRINTER", "LW2040-00731")), "");
  ASSERT_EQ(Write(Device(2, 0x2E10, 0x5567, "mass storage", "4C5300012312")), "");
  const struct {
    const char* what;
    std::string key;
    Strings hardware, compatible;
    std::string service, driver;
  } cases[] = {
      {"printer",
       kUsb + "Vid_04f9&Pid_0042\\LW2040-00731",
       {"USB\\Vid_04f9&Pid_0042&Rev_0100", "USB\\Vid_04f9&Pid_0042"},
       {"USB\\Class_07&SubClass_01&Prot_02", "USB\\Class_07&SubClass_01", "USB\\Class_07"},
       "usbprint",
       kUsbGuid + "\\0000"},
      {"storage",
       kUsb + "Vid_2e10&Pid_5567\\4C5300012312",
       {"USB\\Vid_2e10&Pid_5567&Rev_0100", "USB\\Vid_2e10&Pid_5567"},
       {"USB\\Class_08&SubClass_06&Prot_50", "USB\\Class_08&SubClass_06", "USB\\Class_08"},
       "USBSTOR",
       kUsbGuid + "\\0001"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Multi(c.key, "HardwareID"), c.hardware) << c.what;
    EXPECT_EQ(Multi(c.key, "CompatibleIDs"), c.compatible) << c.what;
    EXPECT_EQ(Sz(c.key, "Class"), "USB") << c.what;
    EXPECT_EQ(Sz(c.key, "Service"), c.service) << c.what;
    EXPECT_EQ(Sz(c.key, "Driver"), c.driver) << c.what;
    EXPECT_EQ(Sz(c.key, "ParentIdPrefix"), "") << c.what;
    EXPECT_NE(Sz(kClass + c.driver, "DriverDesc"), "") << c.what;
  }
  // The lookup by Vid&Pid in the letter cases the client uses finds the same key.
  EXPECT_EQ(SubKeys(kUsb + "Vid_2e10&Pid_5567"), Strings{"4C5300012312"});
  EXPECT_EQ(SubKeys(kUsb + "VID_2E10&PID_5567"), Strings{"4C5300012312"});
}

TEST_F(DeviceDatabaseTest, CompositeMultiFunctionDeviceWithItsScanner) {
  ASSERT_EQ(Write(Device(1, 0x2E11, 0x5511, "MFP", "CN0A1B2C3D", {{"sane-device", "test:0"}})), "");
  const std::string ids = "Vid_2e11&Pid_5511";
  const std::string key = kUsb + ids + "\\CN0A1B2C3D";
  EXPECT_EQ(Multi(key, "CompatibleIDs"),
            (Strings{"USB\\DevClass_00&SubClass_00&Prot_00", "USB\\DevClass_00&SubClass_00",
                     "USB\\DevClass_00", "USB\\COMPOSITE"}));
  EXPECT_EQ(Sz(key, "Service"), "usbccgp");
  const std::string prefix = Sz(key, "ParentIdPrefix");
  EXPECT_TRUE(std::regex_match(prefix, std::regex("7&[0-9a-f]{8}&0"))) << prefix;

  const std::string printer = Interface(ids, 0, prefix);
  ASSERT_EQ(printer, kUsb + ids + "&MI_00\\" + prefix + "&0000");
  EXPECT_EQ(Multi(printer, "HardwareID"),
            (Strings{"USB\\Vid_2e11&Pid_5511&Rev_0100&MI_00", "USB\\Vid_2e11&Pid_5511&MI_00"}));
  EXPECT_EQ(Multi(printer, "CompatibleIDs").back(), "USB\\Class_07");
  const std::string scanner = Interface(ids, 1, prefix);
  ASSERT_EQ(scanner, kUsb + ids + "&MI_01\\" + prefix + "&0001");
  EXPECT_EQ(Multi(scanner, "CompatibleIDs").front(), "USB\\Class_06&SubClass_01&Prot_01");
  EXPECT_EQ(Sz(scanner, "Class"), "Image");
  EXPECT_EQ(Sz(scanner, "Service"), "usbscan");
  EXPECT_EQ(Interface(ids, 2, prefix), "");

  const std::string still = kClass + Sz(scanner, "Driver");
  EXPECT_EQ(Sz(scanner, "Driver"), kImageGuid + "\\0000");
  EXPECT_EQ(Sz(still, "SubClass"), "StillImage");
  EXPECT_EQ(Dword(still, "DeviceType"), 1u);
  EXPECT_EQ(Sz(still, "FriendlyName"), "Corvid Duo 4500");
  EXPECT_EQ(Sz(still, "DeviceID"), "test:0");
  EXPECT_EQ(Sz(still + "\\DeviceData", "TwainDS"), "Corvid Duo 4500");
}

TEST_F(DeviceDatabaseTest, ScannerWithoutNamesOrSaneDevice) {
  auto d = Device(4, 0x2E12, 0x1909, "SCANNER", "");
  d.manufacturer.clear();
  d.product.clear();
  ASSERT_EQ(Write(d), "");
  const Strings instances = SubKeys(kUsb + "Vid_2e12&Pid_1909");
  ASSERT_EQ(instances.size(), 1u);
  const std::string key = kUsb + "Vid_2e12&Pid_1909\\" + instances[0];
  EXPECT_EQ(Sz(key, "Service"), "usbscan");
  const std::string still = kClass + Sz(key, "Driver");
  EXPECT_EQ(Sz(still, "FriendlyName"), "USB Scanner");
  EXPECT_EQ(Sz(still, "DeviceID"), "") << "no SANE device named yet";
  EXPECT_EQ(Dword(still, "DeviceType"), 1u);
}

// An IEEE 1284.4 interface of a composite device, found the way the scanner lookup finds it: its
// hardware ID + "&DOT4" under DOT4USB, then each function's key under DOT4.
TEST_F(DeviceDatabaseTest, Dot4InterfaceIsFoundThroughItsEnumerators) {
  ASSERT_EQ(Write(Device(2, 0x2E11, 0x5512, "MFP", "DOT4-1",
                         {{"interfaces", "07/01/02,ff/ff/ff"}, {"dot4", "yes"}})),
            "");
  const std::string ids = "Vid_2e11&Pid_5512";
  const std::string prefix = Sz(kUsb + ids + "\\DOT4-1", "ParentIdPrefix");
  const std::string mi = Interface(ids, 0, prefix);
  EXPECT_EQ(Multi(mi, "CompatibleIDs").front(), "USB\\Class_07&SubClass_01&Prot_03");
  EXPECT_NE(Sz(mi, "Service"), "Dot4");
  const std::string miPrefix = Sz(mi, "ParentIdPrefix");
  ASSERT_NE(miPrefix, "");

  std::string dot4usb;
  for (const std::string& hw : Multi(mi, "HardwareID")) {
    const std::string base = kEnum + "DOT4USB\\" + hw.substr(4) + "&DOT4";
    for (const auto& name : SubKeys(base))
      if (name.find(miPrefix) != std::string::npos && dot4usb.empty()) dot4usb = base + "\\" + name;
  }
  ASSERT_NE(dot4usb, "");
  EXPECT_EQ(Sz(dot4usb, "Service"), "Dot4");
  EXPECT_EQ(SubKeys(dot4usb + "\\Device Parameters\\Functions"), Strings{"PRINT"})
      << "the scanner interface scans; 1284.4 only prints";
  const std::string hw = Multi(dot4usb, "HardwareID").at(0);
  const std::string base = kEnum + "DOT4\\" + hw.substr(8) + "&PRINT";
  const Strings functions = SubKeys(base);
  ASSERT_EQ(functions.size(), 1u);
  EXPECT_NE(functions[0].find(Sz(dot4usb, "ParentIdPrefix")), std::string::npos);
  EXPECT_EQ(Sz(base + "\\" + functions[0], "Class"), "Dot4Print");
  // The scanner interface of a multi-function device is a still-image function.
  EXPECT_EQ(Sz(Interface(ids, 1, prefix), "Class"), "Image");
}

TEST_F(DeviceDatabaseTest, Dot4DeviceWithoutOtherScannerOffersAScanFunction) {
  ASSERT_EQ(Write(Device(3, 0x2E11, 0x5513, "MFP", "D4", {{"class", "07/01/03"}})), "");
  const std::string key = kUsb + "Vid_2e11&Pid_5513\\D4";
  EXPECT_EQ(Multi(key, "CompatibleIDs").front(), "USB\\Class_07&SubClass_01&Prot_03");
  EXPECT_EQ(SubKeys(key + "\\Device Parameters\\Functions"), (Strings{"PRINT", "SCAN"}));
  const std::string prefix = Sz(key, "ParentIdPrefix");
  const std::string hw = Multi(key, "HardwareID").back();
  const Strings scans = SubKeys(kEnum + "DOT4\\" + hw.substr(4) + "&SCAN");
  ASSERT_EQ(scans.size(), 1u);
  EXPECT_NE(scans[0].find(prefix), std::string::npos);
  const std::string scan = kEnum + "DOT4\\" + hw.substr(4) + "&SCAN\\" + scans[0];
  EXPECT_EQ(Sz(scan, "Service"), "Dot4Scan");
  EXPECT_EQ(Sz(kClass + Sz(scan, "Driver"), "SubClass"), "StillImage");
}

TEST_F(DeviceDatabaseTest, WritingAgainChangesNothingButWhatChanged) {
  const auto d = Device(1, 0x2E11, 0x5511, "MFP", "CN0A1B2C3D", {{"sane-device", "test:0"}});
  ASSERT_EQ(Write(d), "");
  const std::string key = kUsb + "Vid_2e11&Pid_5511\\CN0A1B2C3D";
  const std::string scanner = Interface("Vid_2e11&Pid_5511", 1, Sz(key, "ParentIdPrefix"));
  const std::string driver = Sz(scanner, "Driver");
  const Strings order = Values(key);
  ASSERT_EQ(Write(Device(9, 0x2E12, 0x0001, "SCANNER", "S1")), "");  // takes the next number
  auto edited = d;
  edited.descriptors = {{"sane-device", "test:1"}};
  ASSERT_EQ(Write(edited), "");
  EXPECT_EQ(Sz(scanner, "Driver"), driver) << "a device keeps its driver number";
  EXPECT_EQ(Values(key), order);
  EXPECT_EQ(SubKeys(kClass + kImageGuid), (Strings{"0000", "0001"}));
  EXPECT_EQ(Sz(kClass + driver, "DeviceID"), "test:1");
}

// Every user may read the machine hive. One holding a read transaction past the busy time-out
// must neither hold up the caller nor cost the record: it is written once the reader lets go, and
// of two records queued meanwhile for one device the newer is the one written.
TEST_F(DeviceDatabaseTest, QueuedRecordOutlastsAReaderHoldingTheHive) {
  using namespace std::chrono_literals;
  ASSERT_EQ(Write(Device(9, 0x2E12, 0x0001, "SCANNER", "S1")), "");  // the hive exists
  sqlite3* reader = nullptr;
  ASSERT_EQ(sqlite3_open_v2((dir / "machine.hive").c_str(), &reader, SQLITE_OPEN_READONLY, nullptr),
            SQLITE_OK);
  ASSERT_EQ(
      sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM reg_value;", nullptr, nullptr, nullptr),
      SQLITE_OK);
  const auto d = Device(1, 0x2E11, 0x5511, "MFP", "CN0A1B2C3D", {{"sane-device", "test:0"}});
  auto edited = d;
  edited.descriptors = {{"sane-device", "test:1"}};
  const std::string key = kUsb + "Vid_2e11&Pid_5511\\CN0A1B2C3D";
  DeviceWriter writer(hive, kLog);
  writer.Add(DescribeDeviceRecord(kServerIp, d), "device 1");
  writer.Add(DescribeDeviceRecord(kServerIp, edited), "device 1");
  // Past the registry's busy time-out, so the first attempt fails and the record waits.
  std::this_thread::sleep_for(11s);
  sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(reader);
  // The still-image entry is the record's last key: once it is there, the whole record is.
  const auto scannerId = [&] {
    const std::string scanner = Interface("Vid_2e11&Pid_5511", 1, Sz(key, "ParentIdPrefix"));
    return scanner.empty() ? std::string() : Sz(kClass + Sz(scanner, "Driver"), "DeviceID");
  };
  for (int i = 0; i < 300 && scannerId().empty(); ++i) std::this_thread::sleep_for(100ms);
  EXPECT_EQ(scannerId(), "test:1");
  EXPECT_EQ(Sz(key, "Service"), "usbccgp");
}

TEST(DeviceDatabase, HiveThatCannotBeWrittenIsAnErrorNotACrash) {
  SqliteRegistry hive{HivePaths{"", "/proc/no-such-folder/machine.hive"}};
  const auto written = DeviceDatabase(hive).Write(
      DescribeDeviceRecord(kServerIp, Device(1, 0x04F9, 0x0042, "PRINTER", "P1")));
  ASSERT_FALSE(written);
  EXPECT_NE(written.error().find("Vid_04f9&Pid_0042"), std::string::npos) << written.error();
}

TEST(DeviceArrival, EachLinkToThisPcArrivesOnce) {
  std::vector<std::pair<uint32_t, uint8_t>> arrived;
  DeviceArrival arrival(
      "PC-A", [&](uint32_t ip, const wire::DeviceInfo& d) { arrived.emplace_back(ip, d.number); },
      kLog);
  auto mine = Device(1, 0x04F9, 0x0042, "PRINTER", "P1");
  auto theirs = Device(2, 0x04F9, 0x0043, "PRINTER", "P2");
  theirs.owner = "PC-B";
  auto free = Device(3, 0x04F9, 0x0044, "PRINTER", "P3");
  free.owner.clear();
  const uint32_t other = ::inet_addr("127.0.0.3");
  // This PC linked device 1 through busd on both servers.
  const auto linkHere = [&](uint32_t ip) {
    arrival.LinkRequested(ip, 1);
    arrival.LinkAnswered(ip, 1, true);
  };
  linkHere(kServerIp);
  linkHere(other);

  const struct {
    const char* what;
    uint32_t ip;
    std::function<void()> change;
    std::vector<std::pair<uint32_t, uint8_t>> arrives;
  } steps[] = {
      {"first list", kServerIp, [] {}, {{kServerIp, 1}}},
      {"the same list again", kServerIp, [] {}, {}},
      {"locked now",
       kServerIp,
       [&] {
         mine.lockCount = 1;
         mine.lockKind = 2;
       },
       {}},
      {"the same device on another server", other, [] {}, {{other, 1}}},
      {"unlinked", kServerIp, [&] { mine.owner.clear(); }, {}},
      {"linked again",
       kServerIp,
       [&] {
         mine.owner = "PC-A";
         linkHere(kServerIp);
       },
       {{kServerIp, 1}}},
      {"its server describes it anew",
       kServerIp,
       [&] {
         mine.descriptors = {{"class", "07/01/03"}};
       },
       {{kServerIp, 1}}},
  };
  for (const auto& s : steps) {
    s.change();
    arrived.clear();
    arrival.Update(s.ip, {mine, theirs, free});
    EXPECT_EQ(arrived, s.arrives) << s.what;
  }
}

TEST(DeviceArrival, OnlyLinksThisPcMadeAreRecordedAndEachServerHasACap) {
  constexpr size_t kCap = DeviceArrival::kMaxRecordedPerServer;
  // A server's list naming this PC as the owner of `count` devices, numbered from 1.
  const auto owned = [](int count) {
    std::vector<wire::DeviceInfo> list;
    for (int n = 1; n <= count; ++n)
      list.push_back(Device(static_cast<uint8_t>(n), 0x04F9, static_cast<uint16_t>(0x1000 + n),
                            "PRINTER", "P" + std::to_string(n)));
    return list;
  };
  const auto linked = [](DeviceArrival& a, int from, int to, bool succeeded = true) {
    for (int n = from; n <= to; ++n) {
      a.LinkRequested(kServerIp, static_cast<uint8_t>(n));
      a.LinkAnswered(kServerIp, static_cast<uint8_t>(n), succeeded);
    }
  };
  const struct {
    const char* what;
    std::function<void(DeviceArrival&)> run;
    size_t recorded;
  } cases[] = {
      {"a server claims devices this PC never linked",
       [&](DeviceArrival& a) { a.Update(kServerIp, owned(100)); }, 0},
      {"the server refused the link",
       [&](DeviceArrival& a) {
         linked(a, 1, 1, false);
         a.Update(kServerIp, owned(1));
       },
       0},
      {"a success nobody asked for",
       [&](DeviceArrival& a) {
         a.LinkAnswered(kServerIp, 1, true);
         a.Update(kServerIp, owned(1));
       },
       0},
      {"the list names the owner before the link answers",
       [&](DeviceArrival& a) {
         a.LinkRequested(kServerIp, 1);
         a.Update(kServerIp, owned(1));
         a.LinkAnswered(kServerIp, 1, true);
       },
       1},
      {"the link answers before the list names the owner",
       [&](DeviceArrival& a) {
         linked(a, 1, 1);
         a.Update(kServerIp, owned(1));
         a.Update(kServerIp, owned(1));
       },
       1},
      {"linked, unlinked and linked again",
       [&](DeviceArrival& a) {
         linked(a, 1, 1);
         a.Update(kServerIp, owned(1));
         a.Update(kServerIp, {});
         a.Update(kServerIp, owned(1));  // the server says so, this PC did not link it again
         linked(a, 1, 1);
       },
       2},
      {"of many links only the cap is recorded",
       [&](DeviceArrival& a) {
         linked(a, 1, 100);
         a.Update(kServerIp, owned(100));
       },
       kCap},
      {"a device recorded before the cap is recorded again when linked again",
       [&](DeviceArrival& a) {
         linked(a, 1, 100);
         a.Update(kServerIp, owned(100));
         a.Update(kServerIp, {});
         linked(a, 1, 1);
         a.Update(kServerIp, owned(1));
       },
       kCap + 1},
  };
  for (const auto& c : cases) {
    size_t recorded = 0;
    DeviceArrival arrival(
        "PC-A", [&](uint32_t, const wire::DeviceInfo&) { ++recorded; }, kLog);
    c.run(arrival);
    EXPECT_EQ(recorded, c.recorded) << c.what;
  }
}
