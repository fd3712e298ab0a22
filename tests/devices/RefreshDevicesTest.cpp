// SPDX-License-Identifier: GPL-2.0-or-later
// The device refresh: one server's device list merged into the rows, before and after.
#include "tests/support/RefreshFixture.h"

#include <functional>
#include <map>
#include <set>

#include "records/StateText.h"

using namespace tessaro;
using namespace tessaro::testing;

namespace {

const Hub kHub{"192.168.1.20", "Office", "00:1C:F0:AA:0B:01", 1, 1};
const Hub kOther{"192.168.1.21", "Lab", "00:1C:F0:AA:0B:02", 1, 1};

const Dev kPrinter{.number = 1};
const Dev kStorage{.number = 2,
                   .type = "MASS STORAGE",
                   .manufacturer = "Keystone",
                   .product = "Drive 32",
                   .vendorId = 0x2E10,
                   .productId = 0x5567,
                   .serial = "KS1"};
const Dev kUnnamed{.number = 5,
                   .type = "UNKNOWN",
                   .manufacturer = "",
                   .product = "",
                   .vendorId = 0x2E12,
                   .productId = 0x1909,
                   .serial = ""};

Dev With(Dev d, std::function<void(Dev&)> change) {
  change(d);
  return d;
}

struct MergeCase {
  const char* what;
  std::vector<Dev> before;
  std::vector<Dev> after;
  // "caption|state|owner" per row, in list order
  std::vector<std::string> rows;
  std::vector<std::string> notices;  // shown by the refresh under test
};

void PrintTo(const MergeCase& c, std::ostream* os) { *os << c.what; }

class DeviceMerge : public RefreshTest, public ::testing::WithParamInterface<MergeCase> {};

std::string Describe(const DeviceData& d) {
  return d.displayName + "|" + d.stateText + "|" + d.owner;
}

}  // namespace

TEST_P(DeviceMerge, RowsMatchTheDeviceList) {
  const MergeCase& c = GetParam();
  Listed(kHub, c.before);
  window.notices.clear();
  Devices(kHub.ip, c.after);
  ASSERT_EQ(cycle.RefreshDevices(model.servers()[0].get()), DeviceRefresh::Merged);
  std::vector<std::string> rows;
  for (size_t i = 0; i < model.rowCount(); ++i) rows.push_back(Describe(model.row(i)));
  EXPECT_EQ(rows, c.rows);
  EXPECT_EQ(window.notices, c.notices);
  EXPECT_EQ(window.notePanelVisible, c.rows.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeviceMerge,
    ::testing::Values(
        MergeCase{"a new device is added with a notice",
                  {kPrinter},
                  {kPrinter, kStorage},
                  {"Keystone - Drive 32| - Waiting to Connect|",
                   "Lumen - Laser 2040| - Waiting to Connect|"},
                  {"Keystone - Drive 32"}},
        MergeCase{"an owner and lock change update the row",
                  {kPrinter},
                  {With(kPrinter,
                        [](Dev& d) {
                          d.owner = "PC-B";
                          d.lockKind = 2;
                          d.lockCount = 1;
                        })},
                  {"Lumen - Laser 2040| - Use By (PC-B)|PC-B"},
                  {}},
        MergeCase{"a row keeps its caption when the device renames itself",
                  {kPrinter},
                  {With(kPrinter, [](Dev& d) { d.product = "Laser 2050"; })},
                  {"Lumen - Laser 2040| - Waiting to Connect|"},
                  {}},
        MergeCase{"an unplugged device's row goes",
                  {kPrinter, kStorage},
                  {kStorage},
                  {"Keystone - Drive 32| - Waiting to Connect|"},
                  {}},
        MergeCase{"a device whose number changed is a new row",
                  {kPrinter},
                  {With(kPrinter, [](Dev& d) { d.number = 9; })},
                  {"Lumen - Laser 2040| - Waiting to Connect|"},
                  {"Lumen - Laser 2040"}},
        MergeCase{
            "no devices left: no rows, the note panel shows", {kPrinter, kStorage}, {}, {}, {}}),
    CaseName<MergeCase>);

TEST_F(RefreshTest, FailedDeviceListReadsAsNoDevices) {
  Listed(kHub, {kPrinter, kStorage});
  bus.SetReply("spur/" + kHub.ip, busop::kGetDeviceList,
               FakeBusTransport::Fail(buserr::kGenFailure));
  EXPECT_EQ(cycle.RefreshDevices(model.servers()[0].get()), DeviceRefresh::Merged);
  EXPECT_EQ(model.rowCount(), 0u);
  EXPECT_EQ(window.notePanelVisible, true);
}

TEST_F(RefreshTest, OverlongDeviceListChangesNothing) {
  Listed(kHub, {kPrinter});
  auto reply = FakeBusTransport::Success(DeviceList({}));
  reply.bytesReturned = kDeviceListBufferSize + 1;
  bus.SetReply("spur/" + kHub.ip, busop::kGetDeviceList, reply);
  EXPECT_EQ(cycle.RefreshDevices(model.servers()[0].get()), DeviceRefresh::TooLong);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Lumen - Laser 2040"}));
}

TEST_F(RefreshTest, MissingServerOrClosedSpurIsSkipped) {
  EXPECT_EQ(cycle.RefreshDevices(nullptr), DeviceRefresh::Skipped);
  ServerData closed;
  closed.name = "Office";
  closed.ip = kHub.ip;
  EXPECT_EQ(cycle.RefreshDevices(&closed), DeviceRefresh::Skipped);
  EXPECT_EQ(Requests(busop::kGetDeviceList), 0u);
}

TEST_F(RefreshTest, OtherServersRowsAreLeftAlone) {
  for (const Hub& h : {kHub, kOther}) {
    Store(h, true);
    SpurAppears(h.ip, {kPrinter});
  }
  Report({kHub, kOther});
  ASSERT_TRUE(cycle.RefreshServers());
  ASSERT_EQ(model.rowCount(), 2u);
  Devices(kHub.ip, {});
  cycle.RefreshDevices(model.FindServer(kHub.name, kHub.ip));
  ASSERT_EQ(model.rowCount(), 1u);
  EXPECT_EQ(model.row(0).serverIp, kOther.ip);
}

TEST_F(RefreshTest, UnnamedDevicesAreNumberedAndKeepTheirNumbers) {
  auto unnamed = [](uint8_t n) { return With(kUnnamed, [n](Dev& d) { d.number = n; }); };
  Listed(kHub, {unnamed(1), unnamed(2), unnamed(3)});
  EXPECT_EQ(Row(kHub.ip, "1")->displayName, "USB Device 1");
  EXPECT_EQ(Row(kHub.ip, "2")->displayName, "USB Device 2");
  EXPECT_EQ(Row(kHub.ip, "3")->displayName, "USB Device 3");

  // One unplugged: the others keep their captions; the next one takes the freed number.
  Devices(kHub.ip, {unnamed(1), unnamed(3)});
  cycle.RefreshDevices(model.servers()[0].get());
  EXPECT_EQ(Row(kHub.ip, "3")->displayName, "USB Device 3");
  Devices(kHub.ip, {unnamed(1), unnamed(3), unnamed(4)});
  cycle.RefreshDevices(model.servers()[0].get());
  EXPECT_EQ(Row(kHub.ip, "4")->displayName, "USB Device 2");
  EXPECT_EQ(window.notices.back(), "USB Device 2");
}

TEST_F(RefreshTest, TypesImagesAndStoredEntries) {
  scannerIds = {"Vid_2E12&Pid_1909"};
  printers.push_back(AutoLinkPrinter::For(KeyOf(kHub, kPrinter), "Front Desk", ""));
  Hub serverMode = kHub;
  serverMode.storageMode = 0;
  Listed(serverMode, {kPrinter, With(kStorage, [](Dev& d) { d.type = "mass storage"; }), kUnnamed,
                      With(kUnnamed, [](Dev& d) {
                        d.number = 6;
                        d.type = "Camera";
                        d.vendorId = 0x1111;
                      })});

  const DeviceData& printer = *Row(kHub.ip, "1");
  EXPECT_EQ(printer.autoPrinterIndex, 0);
  EXPECT_EQ(printer.autoPrinterName, "Front Desk");
  EXPECT_EQ(printer.stateText, statetext::kAvailable) << "set up, free";
  EXPECT_EQ(printer.DeviceIdentityText, "04F9 - 0042 - LW2040-1");

  const DeviceData& storage = *Row(kHub.ip, "2");
  EXPECT_EQ(storage.type, "mass storage");
  EXPECT_EQ(storage.autoPrinterIndex, 0) << "a storage device carries its server's storage mode";

  EXPECT_EQ(Row(kHub.ip, "5")->type, "Scanner") << "an unknown device the user marked as scanner";
  EXPECT_EQ(Row(kHub.ip, "6")->type, "UNKNOWN");
  EXPECT_EQ(Row(kHub.ip, "6")->autoPrinterIndex, -1);
}

TEST_F(RefreshTest, RowsAreSortedAfterEveryMerge) {
  const Dev scanner{
      .number = 3, .type = "SCANNER", .manufacturer = "Corvid", .product = "Flat", .serial = "S3"};
  Listed(kHub, {kUnnamed, With(kPrinter, [](Dev& d) { d.number = 9; }),
                With(kPrinter, [](Dev& d) { d.number = 10; }), kStorage, scanner});
  std::vector<std::string> order;
  for (size_t i = 0; i < model.rowCount(); ++i)
    order.push_back(model.row(i).type + "#" + model.row(i).deviceNumber);
  EXPECT_EQ(order, (std::vector<std::string>{"MASS STORAGE#2", "PRINTER#10", "PRINTER#9",
                                             "SCANNER#3", "UNKNOWN#5"}));
}

TEST_F(RefreshTest, NoticesOnlyWhenAskedForAndBusyWhileShown) {
  Listed(kHub, {kPrinter});
  EXPECT_EQ(window.notices, (std::vector<std::string>{"Lumen - Laser 2040"}));
  EXPECT_EQ(window.noticeBusyDuringNotice, (std::vector<bool>{true}));
  EXPECT_FALSE(state.flags.NoticeBusy);
  state.notifyDeviceDetect = false;
  Devices(kHub.ip, {kPrinter, kStorage});
  cycle.RefreshDevices(model.servers()[0].get());
  EXPECT_EQ(window.notices.size(), 1u);
  EXPECT_EQ(model.rowCount(), 2u);
}

// The notice slides in with its own event processing; a device-list event handled then runs a
// nested refresh of the same server. Each device is listed once, and the outer notice's
// NoticeBusy outlasts the inner one.
TEST_F(RefreshTest, NestedRefreshDuringANoticeListsEachDeviceOnce) {
  Listed(kHub, {});
  bool nested = false;
  window.onNotice = [&](const std::string&) {
    if (nested) return;
    nested = true;
    Devices(kHub.ip, {kPrinter, kStorage, kUnnamed});
    cycle.RefreshDevices(model.servers()[0].get());
    EXPECT_TRUE(state.flags.NoticeBusy);
  };
  Devices(kHub.ip, {kPrinter, kStorage});
  cycle.RefreshDevices(model.servers()[0].get());
  EXPECT_EQ(model.rowCount(), 3u);
  EXPECT_EQ(window.notices.size(), 3u);
  EXPECT_FALSE(state.flags.NoticeBusy);
}

// A notice processes events, and a refresh run then may remove rows, this server's or
// another's, while the outer merge still has devices to add: it must find its rows afresh.
class NestedRemoval : public RefreshTest {
 protected:
  // Office and Lab list a printer each; Office's refresh then adds storage and an unnamed
  // device, running `nested` inside the first notice.
  void RefreshOfficeRunning(const std::function<void()>& nested) {
    for (const Hub& h : {kHub, kOther}) {
      Store(h, true);
      SpurAppears(h.ip, {kPrinter});
    }
    Report({kHub, kOther});
    ASSERT_TRUE(cycle.RefreshServers());
    window.notices.clear();
    bool ran = false;
    window.onNotice = [&](const std::string&) {
      if (ran) return;
      ran = true;
      nested();
    };
    Devices(kHub.ip, {kPrinter, kStorage, kUnnamed});
    ASSERT_EQ(cycle.RefreshDevices(model.FindServer(kHub.name, kHub.ip)), DeviceRefresh::Merged);
    ASSERT_TRUE(ran);
  }
  // "ip#number caption" per row, in list order.
  std::vector<std::string> Rows() const {
    std::vector<std::string> out;
    for (size_t i = 0; i < model.rowCount(); ++i)
      out.push_back(model.row(i).serverIp + "#" + model.row(i).deviceNumber + " " +
                    model.row(i).displayName);
    return out;
  }
};

TEST_F(NestedRemoval, RowsTheOuterMergeAddedGo) {
  RefreshOfficeRunning([&] {
    Devices(kHub.ip, {kUnnamed});
    cycle.RefreshDevices(model.FindServer(kHub.name, kHub.ip));
  });
  EXPECT_EQ(Rows(), (std::vector<std::string>{"192.168.1.21#1 Lumen - Laser 2040",
                                              "192.168.1.20#5 USB Device 1"}));
  EXPECT_EQ(window.notices, (std::vector<std::string>{"Keystone - Drive 32", "USB Device 1"}));
  EXPECT_FALSE(model.unnamedSlots().taken(1)) << "the unnamed device was numbered once";
}

TEST_F(NestedRemoval, AnotherServerVanishesWithRowsBeforeThem) {
  RefreshOfficeRunning([&] {
    Report({kHub});
    cycle.RefreshServers();
  });
  EXPECT_EQ(Rows(), (std::vector<std::string>{"192.168.1.20#2 Keystone - Drive 32",
                                              "192.168.1.20#1 Lumen - Laser 2040",
                                              "192.168.1.20#5 USB Device 1"}));
  EXPECT_EQ(window.notices, (std::vector<std::string>{"Keystone - Drive 32", "USB Device 1"}));
}

namespace {

// Servers whose devices sit in the same slots with the same products, some sharing a name or an
// address: their rows interleave in the list, and only the server tells them apart.
const std::vector<std::pair<std::string, std::string>> kSlotServers = {
    {"Office", "10.0.0.1"}, {"Office", "10.0.0.2"}, {"Lab", "10.0.0.1"}, {"Lab", "10.0.0.3"}};

struct SlotDevice {
  int number;
  std::string owner{};
};

struct SlotCase {
  const char* what;
  size_t server;  // in kSlotServers, whose list changes
  std::vector<SlotDevice> after;
};

void PrintTo(const SlotCase& c, std::ostream* os) { *os << c.what; }

ServerData SlotServer(size_t i) {
  ServerData s;
  s.name = kSlotServers[i].first;
  s.ip = kSlotServers[i].second;
  s.handle = static_cast<BusHandle>(100 + i);
  return s;
}

std::vector<DeviceEntry> SlotList(const std::vector<SlotDevice>& devices) {
  std::vector<DeviceEntry> list;
  for (const SlotDevice& d : devices) {
    DeviceEntry e;
    e.deviceNumber = d.number;
    e.vendorId = "04F9";
    e.productId = "0042";
    e.type = "PRINTER";
    e.manufacturer = "Lumen";
    e.product = "Laser 2040";
    e.owner = d.owner;
    list.push_back(e);
  }
  return list;
}

// The server of every row a notification names.
class ServerOfRows : public DeviceListListener {
 public:
  explicit ServerOfRows(const DeviceListModel& m) : model_(m) {}
  void RowInserted(size_t i) override { Note(i); }
  void RowAboutToBeRemoved(size_t i) override { Note(i); }
  void RowChanged(size_t i) override { Note(i); }
  std::set<std::string> servers;

 private:
  void Note(size_t i) { servers.insert(model_.row(i).serverName + " " + model_.row(i).serverIp); }
  const DeviceListModel& model_;
};

class EqualSlots : public RefreshTest, public ::testing::WithParamInterface<SlotCase> {};

}  // namespace

TEST_P(EqualSlots, MergeTouchesOnlyItsServersRows) {
  const SlotCase& c = GetParam();
  state.notifyDeviceDetect = false;
  for (size_t s = 0; s < kSlotServers.size(); ++s)
    cycle.MergeDevices(SlotServer(s), SlotList({{1}, {2}, {3}}));
  const auto& [name, ip] = kSlotServers[c.server];
  // The other servers' rows: the same records with the same contents afterwards.
  auto others = [&] {
    std::map<const DeviceData*, std::string> out;
    for (size_t i = 0; i < model.rowCount(); ++i) {
      const DeviceData& d = model.row(i);
      if (d.serverName != name || d.serverIp != ip)
        out[&d] = d.serverName + d.serverIp + "#" + d.deviceNumber + d.owner + d.stateText;
    }
    return out;
  };
  const auto othersBefore = others();
  ServerOfRows touched(model);
  model.AddListener(&touched);
  cycle.MergeDevices(SlotServer(c.server), SlotList(c.after));
  model.RemoveListener(&touched);

  std::set<std::string> rows, expected;
  for (size_t i : model.RowsOf(name, ip))
    rows.insert(model.row(i).deviceNumber + " " + model.row(i).owner);
  for (const SlotDevice& d : c.after) expected.insert(std::to_string(d.number) + " " + d.owner);
  EXPECT_EQ(rows, expected);
  EXPECT_EQ(model.rowCount(), othersBefore.size() + c.after.size());
  EXPECT_EQ(others(), othersBefore);
  EXPECT_EQ(touched.servers, (std::set<std::string>{name + " " + ip}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EqualSlots,
    ::testing::Values(
        SlotCase{
            "an owner change at the second server of the same name", 1, {{1}, {2, "PC-B"}, {3}}},
        SlotCase{"an owner change at the server sharing the first one's address",
                 2,
                 {{1, "PC-B"}, {2}, {3}}},
        SlotCase{"an unplugged device leaves the others' equal slots", 0, {{1}, {3}}},
        SlotCase{"a new device at the last server", 3, {{1}, {2}, {3}, {4, "PC-B"}}},
        SlotCase{"devices listed in another order", 1, {{3, "PC-B"}, {1}, {2, "PC-C"}}},
        SlotCase{"every device gone from one server", 2, {}}),
    CaseName<SlotCase>);
