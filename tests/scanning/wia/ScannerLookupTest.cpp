// SPDX-License-Identifier: GPL-2.0-or-later
// The scanner lookup over a machine hive laid out as the device database records devices: which
// instance key a serial picks, how compatible IDs classify, and where the scanner's names come
// from (the device key, a composite interface, an IEEE 1284.4 scan function).
#include <gtest/gtest.h>

#include "platform/linux/SqliteRegistry.h"
#include "scanning/wia/ScannerLookup.h"
#include "tests/support/Process.h"

using namespace tessaro;

namespace {

const std::string kUsb = "SYSTEM\\CurrentControlSet\\Enum\\USB\\";
const std::string kEnum = "SYSTEM\\CurrentControlSet\\Enum\\";
const std::string kClass = "SYSTEM\\CurrentControlSet\\Control\\Class\\";
const std::string kImage = "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}";

std::string Multi(const std::vector<std::string>& strings) {
  std::string data;
  for (const auto& s : strings) data += s + '\0';
  return data + '\0';
}
std::string Dword(uint32_t v) {
  return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 24)};
}

class ScannerLookupTest : public ::testing::Test {
 protected:
  void Put(const std::string& path, const std::string& name, uint32_t type,
           const std::string& data) {
    RegKey key;
    ASSERT_EQ(hive.OpenKey(RegRoot::LocalMachine, path, regaccess::kAllAccess, true, key), 0u);
    ASSERT_EQ(hive.SetValue(key, name, type, data), 0u);
  }
  void Sz(const std::string& path, const std::string& name, const std::string& text) {
    Put(path, name, regtype::kSz, text);
  }
  void Ids(const std::string& path, const std::vector<std::string>& ids) {
    Put(path, "CompatibleIDs", regtype::kMultiSz, Multi(ids));
  }
  // An image-class instance key run by `service`, with its still-image class entry of `type`
  // (1 scanner, 2 camera) as the image class's instance `number`.
  void ImageKey(const std::string& key, const std::string& service, const std::string& number,
                uint32_t type, const std::string& name, const std::string& id) {
    const std::string driver = kImage + "\\" + number;
    Sz(key, "Class", "Image");
    Sz(key, "Service", service);
    Sz(key, "Driver", driver);
    Sz(kClass + driver, "SubClass", "StillImage");
    Put(kClass + driver, "DeviceType", regtype::kDword, Dword(type));
    Sz(kClass + driver, "FriendlyName", name);
    Sz(kClass + driver, "DeviceID", id);
    Sz(kClass + driver + "\\DeviceData", "TwainDS", name + " TWAIN");
  }
  uint32_t Lookup(const std::string& vid, const std::string& pid, const std::string& serial) {
    info = {};
    return LookupDeviceDrivers(hive, vid, pid, serial, info);
  }

  tessaro::testing::TempDir dir;
  SqliteRegistry hive{HivePaths{dir / "user.hive", dir / "machine.hive"}};
  DeviceDriverInfo info;
};

TEST_F(ScannerLookupTest, AScannerKeyGivesItsFlagAndItsNames) {
  const std::string key = kUsb + "Vid_04B8&Pid_0110\\SC123";
  Ids(key, {"USB\\Class_FF&SubClass_FF&Prot_FF", "USB\\Class_FF"});
  ImageKey(key, "usbscan", "0000", 1, "Epsilon Flatbed", "test:0");
  EXPECT_EQ(Lookup("04B8", "0110", "SC123"), devclass::kScanner);
  EXPECT_EQ(info.ScannerName, "Epsilon Flatbed");
  EXPECT_EQ(info.TwainDataSource, "Epsilon Flatbed TWAIN");
  EXPECT_EQ(info.WiaDeviceId, "test:0");
  // The instance key is named after the serial exactly: another serial, or another case, is
  // a device Windows does not know.
  EXPECT_EQ(Lookup("04B8", "0110", "SC124"), 0u);
  EXPECT_EQ(Lookup("04B8", "0110", "sc123"), 0u);
  EXPECT_EQ(info.WiaDeviceId, "");
  // A serial of "0" takes the first instance.
  EXPECT_EQ(Lookup("04B8", "0110", "0"), devclass::kScanner);
  EXPECT_EQ(Lookup("04B8", "0111", "0"), 0u);
}

TEST_F(ScannerLookupTest, CompatibleIdsClassifyByTheirFirstWholeMatch) {
  struct Case {
    const char* name;
    std::vector<std::string> ids;
    uint32_t flags;
  };
  const Case cases[] = {
      // A bidirectional printer: protocol 02 and the subclass match nothing, "USB\Class_07" does.
      {"bidirectional printer",
       {"USB\\Class_07&SubClass_01&Prot_02", "USB\\Class_07&SubClass_01", "USB\\Class_07"},
       devclass::kPrinter},
      {"1284.4 printer",
       {"USB\\Class_07&SubClass_01&Prot_03", "USB\\Class_07"},
       devclass::kDot4Printer},
      {"storage", {"USB\\Class_08&SubClass_06&Prot_50", "USB\\Class_08"}, devclass::kMassStorage},
      {"composite", {"USB\\DevClass_00", "USB\\COMPOSITE"}, devclass::kComposite},
      {"hid", {"USB\\Class_03"}, devclass::kHid},
      {"unknown vendor class", {"USB\\Class_FF"}, devclass::kUnclassified},
  };
  int serial = 0;
  for (const Case& c : cases) {
    const std::string sn = "S" + std::to_string(++serial);
    Ids(kUsb + "Vid_1111&Pid_2222\\" + sn, c.ids);
    EXPECT_EQ(Lookup("1111", "2222", sn), c.flags) << c.name;
    EXPECT_EQ(info.WiaDeviceId, "") << c.name;
  }
}

TEST_F(ScannerLookupTest, ACameraSetsItsFlagButNoScannerNames) {
  const std::string key = kUsb + "Vid_2E12&Pid_1909\\CAM1";
  Ids(key, {"USB\\Class_06&SubClass_01&Prot_01", "USB\\Class_06"});
  ImageKey(key, "usbvideo", "0003", 2, "Pocket Camera", "cam:0");
  EXPECT_EQ(Lookup("2E12", "1909", "CAM1"), devclass::kCamera);
  EXPECT_EQ(info.ScannerName, "");
  EXPECT_EQ(info.WiaDeviceId, "");
}

TEST_F(ScannerLookupTest, ACompositeMfpFindsItsScannerInterface) {
  const std::string device = kUsb + "Vid_2E11&Pid_5511\\CN0A1B2C3D";
  Ids(device, {"USB\\DevClass_00", "USB\\COMPOSITE"});
  Sz(device, "ParentIdPrefix", "7&2f1c&0");
  const std::string printer = kUsb + "Vid_2E11&Pid_5511&MI_00\\7&2f1c&0&0000";
  Ids(printer, {"USB\\Class_07&SubClass_01&Prot_02", "USB\\Class_07"});
  const std::string scanner = kUsb + "Vid_2E11&Pid_5511&MI_01\\7&2f1c&0&0001";
  Ids(scanner, {"USB\\Class_FF&SubClass_FF&Prot_FF", "USB\\Class_FF"});
  ImageKey(scanner, "usbscan", "0001", 1, "Corvid Duo 4500 MFP", "test:1");
  EXPECT_EQ(Lookup("2E11", "5511", "CN0A1B2C3D"),
            devclass::kComposite | devclass::kPrinter | devclass::kScanner);
  EXPECT_EQ(info.WiaDeviceId, "test:1");
}

TEST_F(ScannerLookupTest, A1284Point4MfpFindsItsScanFunction) {
  const std::string device = kUsb + "Vid_03F0&Pid_2811\\MY1";
  Ids(device, {"USB\\Class_07&SubClass_01&Prot_03", "USB\\Class_07"});
  Put(device, "HardwareID", regtype::kMultiSz, Multi({"USB\\Vid_03F0&Pid_2811"}));
  Sz(device, "ParentIdPrefix", "8&11&0");
  Sz(device + "\\Device Parameters\\Functions\\PRINT", "x", "");
  Sz(device + "\\Device Parameters\\Functions\\SCAN", "x", "");
  const std::string print = kEnum + "DOT4\\Vid_03F0&Pid_2811&PRINT\\8&11&0&1";
  Sz(print, "Class", "Dot4Print");
  const std::string scan = kEnum + "DOT4\\Vid_03F0&Pid_2811&SCAN\\8&11&0&2";
  ImageKey(scan, "Dot4Scan", "0002", 1, "Office Jet", "test:2");
  EXPECT_EQ(Lookup("03F0", "2811", "MY1"),
            devclass::kDot4Printer | devclass::kPrinter | devclass::kScanner);
  EXPECT_EQ(info.WiaDeviceId, "test:2");
}

TEST_F(ScannerLookupTest, ValuesTooLongForTheirBuffersReadAsEmpty) {
  const std::string key = kUsb + "Vid_04B8&Pid_0110\\LONG";
  Ids(key, {"USB\\Class_FF"});
  ImageKey(key, "usbscan", "0007", 1, std::string(300, 'n'), "test:0");
  EXPECT_EQ(Lookup("04B8", "0110", "LONG"), devclass::kScanner);
  EXPECT_EQ(info.ScannerName, "");
  EXPECT_EQ(info.WiaDeviceId, "test:0");
}

}  // namespace
