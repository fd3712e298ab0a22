// SPDX-License-Identifier: GPL-2.0-or-later
// The start-up lists built from a real hive, and the look-up into them.
#include <gtest/gtest.h>

#include <map>

#include "autoconnect/AutoConnectLists.h"
#include "tests/autoconnect/StoreFixture.h"

namespace tessaro {
namespace {

// The real registry, except that opening a key whose path contains `failOn` is refused.
class FailingRegistry : public Registry {
 public:
  FailingRegistry(Registry& inner, std::string failOn)
      : inner_(inner), failOn_(std::move(failOn)) {}
  uint32_t OpenKey(RegRoot root, std::string_view path, uint32_t access, bool create,
                   RegKey& out) override {
    if (path.find(failOn_) != std::string_view::npos) return regerr::kAccessDenied;
    return inner_.OpenKey(root, path, access, create, out);
  }
  uint32_t QueryValue(const RegKey& k, std::string_view n, RegValue& v) override {
    return inner_.QueryValue(k, n, v);
  }
  uint32_t SetValue(const RegKey& k, std::string_view n, uint32_t t, std::string_view d) override {
    return inner_.SetValue(k, n, t, d);
  }
  uint32_t EnumSubKeys(const RegKey& k, std::vector<std::string>& n) override {
    return inner_.EnumSubKeys(k, n);
  }
  uint32_t EnumValues(const RegKey& k, std::vector<std::string>& n) override {
    return inner_.EnumValues(k, n);
  }
  uint32_t DeleteValue(const RegKey& k, std::string_view n) override {
    return inner_.DeleteValue(k, n);
  }
  uint32_t DeleteKey(const RegKey& k, std::string_view n) override {
    return inner_.DeleteKey(k, n);
  }

 private:
  Registry& inner_;
  std::string failOn_;
};

AutoConnectInfo Bound(const std::string& serial, const std::string& printer, uint8_t printerOn,
                      const std::string& fax, uint8_t faxOn) {
  AutoConnectInfo info = Device("04F9", "0027", serial);
  info.PrinterName = printer;
  info.PrinterPort = printer.empty() ? "" : "port-" + printer;
  info.PrinterEnable = printerOn;
  info.FaxPrinterName = fax;
  info.FaxPrinterPort = fax.empty() ? "" : "port-" + fax;
  info.FaxEnable = faxOn;
  return info;
}

std::vector<std::string> Printers(const AutoLinkList& list) {
  std::vector<std::string> names;
  for (const auto& entry : list) names.push_back(entry->PrinterName);
  return names;
}

class ListsTest : public StoreTest {
 protected:
  AutoLinkList printers_;
  AutoLinkList faxes_;
};

TEST_F(ListsTest, LoadTakesEnabledBindingsInRegistryOrderAndSkipsTheRest) {
  struct Entry {
    AutoConnectInfo info;
    const char* why;
  } entries[] = {
      {Bound("S1", "P1", 1, "", 0), "printer on"},
      {Bound("S2", "P2", 0, "F2", 1), "fax on, printer off"},
      {Bound("S3", "P3", 1, "F3", 1), "both on"},
      {Bound("", "P4", 1, "", 0), "empty serial loads normally"},
      {Bound("S5", "", 1, "", 1), "enabled but no names"},
      {Bound("S6", "P6", 1, "F6", 0), "printer flag stored as 2 below"},
  };
  for (const Entry& e : entries) ASSERT_TRUE(WriteDeviceEntry(registry_, kAppKey, e.info)) << e.why;
  SetText(kAutoConnectPath + "\\" + entries[5].info.Key().EntryName(), "PrinterEnable", "2");
  // Never loaded: a server entry, an entry without vendor and product ID, and entries whose
  // name does not match their own values.
  ASSERT_TRUE(WriteServerEntry(registry_, kAppKey,
                               {"Hub", "192.168.0.20", "00:0D:88:12:34:56", 1, "", "", ""}));
  AutoConnectInfo noIds = Bound("S7", "P7", 1, "", 0);
  noIds.DeviceVid.clear();
  noIds.DevicePid.clear();
  ASSERT_TRUE(WriteDeviceEntry(registry_, kAppKey, noIds));
  const AutoConnectInfo edited = Bound("S8", "P8", 1, "", 0);
  ASSERT_TRUE(WriteDeviceEntry(registry_, kAppKey, edited));
  SetText(kAutoConnectPath + "\\" + edited.Key().EntryName(), "DeviceSNo", "other");
  const std::string lowerName = "ip_192.168.0.20&MAC_00:0D:88:12:34:56&Vid_04F9&Pid_0027&SNo_S9";
  const AutoConnectInfo lower = Bound("S9", "P9", 1, "", 0);
  Open(kAutoConnectPath + "\\" + lowerName);
  for (const char* v : {"ServerIP", "ServerMAC", "DeviceVid", "DevicePid", "DeviceSNo",
                        "PrinterEnable", "PrinterName"}) {
    const std::map<std::string, std::string> values{
        {"ServerIP", lower.ServerIP},   {"ServerMAC", lower.ServerMAC},
        {"DeviceVid", lower.DeviceVid}, {"DevicePid", lower.DevicePid},
        {"DeviceSNo", lower.DeviceSNo}, {"PrinterEnable", "1"},
        {"PrinterName", "P9"}};
    SetText(kAutoConnectPath + "\\" + lowerName, v, values.at(v));
  }

  LoadAutoConnectLists(registry_, kAppKey, printers_, faxes_);
  // Registry order: "&SNo_" sorts before "&SNo_S1".
  EXPECT_EQ(Printers(printers_), (std::vector<std::string>{"P4", "P1", "P3"}));
  EXPECT_EQ(Printers(faxes_), (std::vector<std::string>{"F2", "F3"}));
  ASSERT_EQ(faxes_.size(), 2u);
  const AutoLinkPrinter& fax = *faxes_[0];
  EXPECT_EQ(fax.ServerIP, "192.168.0.20");
  EXPECT_EQ(fax.ServerMAC, "00:0D:88:12:34:56");
  EXPECT_EQ(fax.DeviceVid, "04F9");
  EXPECT_EQ(fax.DevicePid, "0027");
  EXPECT_EQ(fax.DeviceSNo, "S2");
  EXPECT_EQ(fax.PrinterPort, "port-F2");
  EXPECT_EQ(fax.Thread, nullptr);
  EXPECT_EQ(printers_[1]->PrinterPort, "port-P1");
}

TEST_F(ListsTest, AnEntryThatCannotBeReadEndsTheLoad) {
  for (const char* serial : {"A", "B", "C"}) {
    ASSERT_TRUE(WriteDeviceEntry(registry_, kAppKey, Bound(serial, serial, 1, "", 0)));
  }
  FailingRegistry failing(registry_, "&SNo_B");
  printers_.push_back(std::make_unique<AutoLinkPrinter>());
  printers_.back()->PrinterName = "loaded before";
  LoadAutoConnectLists(failing, kAppKey, printers_, faxes_);
  EXPECT_EQ(Printers(printers_), (std::vector<std::string>{"loaded before", "A"}));
}

TEST_F(ListsTest, ScannerIdListDropsMalformedNamesButTheHiveKeepsThem) {
  ASSERT_TRUE(AddScannerId(registry_, kAppKey, "04A9", "220E", "04A9 - 220E - X"));
  SetText(kAppKey + "\\ScannerId", "Vid_1111_Pid_2222", "hand-made");
  SetText(kAppKey + "\\ScannerId", "&Pid_3333", "hand-made");
  std::vector<std::string> ids;
  ASSERT_TRUE(LoadScannerIdList(registry_, kAppKey, ids));
  EXPECT_EQ(ids, std::vector<std::string>{"Vid_04A9&Pid_220E"});
  std::vector<std::string> stored;
  ASSERT_TRUE(ListScannerIds(registry_, kAppKey, stored));
  EXPECT_EQ(stored.size(), 3u);
}

TEST(FindAutoLinkEntry, FindsTheFirstEntryOfTheServerAndIdentity) {
  AutoLinkList list;
  auto add = [&](const char* mac, const char* sno, const char* name) {
    auto entry = std::make_unique<AutoLinkPrinter>();
    entry->ServerMAC = mac;
    entry->DeviceVid = "04F9";
    entry->DevicePid = "0027";
    entry->DeviceSNo = sno;
    entry->PrinterName = name;
    list.push_back(std::move(entry));
  };
  add("AA:AA:AA:AA:AA:AA", "S1", "first");
  add("BB:BB:BB:BB:BB:BB", "S1", "other server");
  add("AA:AA:AA:AA:AA:AA", "S1", "duplicate");
  add("AA:AA:AA:AA:AA:AA", "", "no serial");
  struct Case {
    const char* mac;
    const char* identity;
    int32_t index;
    const char* name;
  } cases[] = {
      {"AA:AA:AA:AA:AA:AA", "04F9 - 0027 - S1", 0, "first"},
      {"BB:BB:BB:BB:BB:BB", "04F9 - 0027 - S1", 1, "other server"},
      {"AA:AA:AA:AA:AA:AA", "04F9 - 0027 - ", 3, "no serial"},
      {"aa:aa:aa:aa:aa:aa", "04F9 - 0027 - S1", -1, ""},
      {"AA:AA:AA:AA:AA:AA", "04f9 - 0027 - S1", -1, ""},
      {"AA:AA:AA:AA:AA:AA", "04F9 - 0027 - S2", -1, ""},
  };
  for (const Case& c : cases) {
    std::string name = "previous";
    EXPECT_EQ(FindAutoLinkEntry(list, c.mac, c.identity, name), c.index) << c.identity;
    EXPECT_EQ(name, c.name) << c.identity;
  }
}

}  // namespace
}  // namespace tessaro
