// SPDX-License-Identifier: GPL-2.0-or-later
// How a row looks and where it sorts, as tables over DeviceData; and the row model's
// notifications that a view follows, its lookups by server and its sort.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>

#include "devices/DeviceListModel.h"
#include "devices/MainWindowPort.h"
#include "devices/RowLook.h"
#include "records/StateText.h"
#include "tests/devices/RecordingWindow.h"
#include "tests/support/FakeClock.h"

using namespace tessaro;
using namespace tessaro::testing;

namespace {

DeviceData Device(std::string type, std::string manufacturer, std::string product,
                  std::string number) {
  DeviceData d;
  d.type = std::move(type);
  d.manufacturer = std::move(manufacturer);
  d.product = std::move(product);
  d.deviceNumber = std::move(number);
  d.displayName = DeviceDisplayName(d.manufacturer, d.product);
  return d;
}

}  // namespace

TEST(RowLook, StateColourAndOverlay) {
  struct Case {
    std::string state;
    std::string owner;
    Rgb colour;
    int overlay;
  } cases[] = {
      {statetext::kWaiting, "", rowcolour::kFree, -1},
      {statetext::kWaiting, "PC-A", rowcolour::kFree, -1},  // linked here, not set up, not locked
      {statetext::kAvailable, "", rowcolour::kFree, 2},
      {statetext::kAvailable, "PC-A", rowcolour::kFree, 2},  // our own automatic lock
      {statetext::UseBy("PC-A"), "PC-A", rowcolour::kOwnUse, 0},
      {statetext::UseBy("PC-B"), "PC-B", rowcolour::kOtherUse, 1},
      {statetext::UseBy("pc-a"), "pc-a", rowcolour::kOtherUse, 1},  // owners compare exactly
      {"", "", rowcolour::kFree, -1},
      {" - Something else", "PC-A", rowcolour::kFree, -1},
  };
  for (const auto& c : cases) {
    DeviceData d = Device("PRINTER", "Lumen", "Laser", "1");
    d.stateText = c.state;
    d.owner = c.owner;
    const RowLook look = LookOfRow(d, "PC-A");
    EXPECT_EQ(look.stateColour, c.colour) << c.state << " / " << c.owner;
    EXPECT_EQ(look.overlayIndex, c.overlay) << c.state << " / " << c.owner;
    EXPECT_EQ(look.caption, "Lumen - Laser");
    EXPECT_EQ(look.stateText, c.state);
  }
}

TEST(RowLook, ImageByType) {
  const std::pair<const char*, int> cases[] = {
      {"MFP", 0},          {"printer", 1}, {"mass storage", 2},
      {"MASS STORAGE", 2}, {"SCANNER", 3}, {"Scanner", 3},
      {"UNKNOWN", 4},      {"Camera", 4},  {"", 4}};
  for (const auto& [type, image] : cases)
    EXPECT_EQ(LookOfRow(Device(type, "a", "b", "1"), "PC-A").imageIndex, image) << type;
}

TEST(RowOrder, ComparisonTable) {
  struct Case {
    const char* what;
    DeviceData first;
    DeviceData second;
  } cases[] = {
      {"storage before printer", Device("MASS STORAGE", "Z", "Z", "9"),
       Device("PRINTER", "A", "A", "1")},
      {"unknown always last", Device("SCANNER", "Z", "Z", "9"), Device("UNKNOWN", "A", "A", "1")},
      {"unknown last even against a type sorting after it", Device("ZIP DRIVE", "a", "a", "1"),
       Device("UNKNOWN", "a", "a", "1")},
      {"containment of UNKNOWN is exact case", Device("unknown", "a", "a", "1"),
       Device("UNKNOWN", "a", "a", "1")},
      {"lower-case unknown sorts as a type", Device("PRINTER", "a", "a", "1"),
       Device("unknown", "a", "a", "1")},
      {"marked scanners sort among scanners", Device("Scanner", "A", "a", "1"),
       Device("SCANNER", "B", "a", "1")},
      {"then manufacturer, without case", Device("PRINTER", "alpha", "z", "9"),
       Device("PRINTER", "Beta", "a", "1")},
      {"then product", Device("PRINTER", "Lumen", "A100", "9"),
       Device("PRINTER", "lumen", "b200", "1")},
      {"then number as text", Device("PRINTER", "Lumen", "Laser", "10"),
       Device("PRINTER", "Lumen", "Laser", "9")},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(RowLess(c.first, c.second)) << c.what;
    EXPECT_FALSE(RowLess(c.second, c.first)) << c.what;
  }
  const DeviceData same = Device("PRINTER", "Lumen", "Laser", "1");
  EXPECT_FALSE(RowLess(same, Device("printer", "LUMEN", "laser", "1")));
}

namespace {

// Records the notifications in order, checking each against the model's state at that moment.
class Trace : public DeviceListListener {
 public:
  explicit Trace(const DeviceListModel& m) : model(m) {}
  void RowAboutToBeInserted(size_t i) override { Log("+?", i, model.rowCount() == i); }
  void RowInserted(size_t i) override { Log("+", i, i < model.rowCount()); }
  void RowAboutToBeRemoved(size_t i) override { Log("-?", i, i < model.rowCount()); }
  void RowRemoved(size_t i) override { Log("-", i, true); }
  void RowChanged(size_t i) override { Log("~", i, i < model.rowCount()); }
  void RowsAboutToBeSorted() override { events.push_back("sort?"); }
  void RowsSorted(const std::vector<size_t>& newIndexOf) override {
    std::string e = "sort";
    for (size_t n : newIndexOf) e += " " + std::to_string(n);
    events.push_back(e);
  }
  void Log(const char* what, size_t i, bool consistent) {
    events.push_back(what + std::to_string(i));
    EXPECT_TRUE(consistent) << what << i;
  }
  const DeviceListModel& model;
  std::vector<std::string> events;
};

}  // namespace

TEST(DeviceListModel, NotificationsSlotsAndNotePanel) {
  FakeClock clock;
  RecordingWindow window(clock);
  DeviceListModel model(window);
  Trace trace(model);
  model.AddListener(&trace);

  auto add = [&](DeviceData d) {
    if (IsUnnamedDevice(d.manufacturer, d.product)) d.displayName = model.unnamedSlots().Take();
    model.AppendRow(std::make_unique<DeviceData>(d));
  };
  add(Device("UNKNOWN", "", "", "5"));
  add(Device("PRINTER", "Lumen", "Laser", "1"));
  add(Device("MASS STORAGE", "Keystone", "Drive", "2"));
  const DeviceData* storage = &model.row(2);
  model.SortRows();
  EXPECT_EQ(model.IndexOf(storage), 0u) << "records keep their address through a sort";
  model.SortRows();  // already in order: no notification
  model.EditRow(1, [](DeviceData& d) { d.owner = "PC-B"; });
  model.RemoveRow(2);
  EXPECT_FALSE(model.unnamedSlots().taken(0)) << "the unnamed row gave its number back";
  model.RemoveRow(0);
  model.RemoveRow(0);
  EXPECT_EQ(trace.events,
            (std::vector<std::string>{"+?0", "+0", "+?1", "+1", "+?2", "+2", "sort?", "sort 2 1 0",
                                      "~1", "-?2", "-2", "-?0", "-0", "-?0", "-0"}));
  EXPECT_EQ(window.notePanelCalls, (std::vector<bool>{false, false, true}));
  model.RemoveListener(&trace);
}

TEST(DeviceListModel, FindDeviceRowNeedsEveryKey) {
  FakeClock clock;
  RecordingWindow window(clock);
  DeviceListModel model(window);
  DeviceData d = Device("PRINTER", "Lumen", "Laser", "1");
  d.serverName = "Office";
  d.serverIp = "192.168.1.20";
  d.DeviceIdentityText = "04F9 - 0042 - S1";
  model.AppendRow(std::make_unique<DeviceData>(d));
  EXPECT_EQ(model.FindDeviceRow("Office", "192.168.1.20", "04F9 - 0042 - S1"), &model.row(0));
  EXPECT_EQ(model.FindDeviceRow("Office", "192.168.1.20", "04F9 - 0042 - S2"), nullptr);
  EXPECT_EQ(model.FindDeviceRow("", "192.168.1.20", "04F9 - 0042 - S1"), nullptr);
  EXPECT_EQ(model.FindDeviceRow("office", "192.168.1.20", "04F9 - 0042 - S1"), nullptr);
}

// The lookups go through an index of each server's rows: after every kind of change they must
// agree with a walk of the list, also for servers that share a name or an address.
TEST(DeviceListModel, LookupsAgreeWithAWalkAfterEveryChange) {
  FakeClock clock;
  RecordingWindow window(clock);
  DeviceListModel model(window);
  const std::vector<std::pair<std::string, std::string>> servers = {
      {"Office", "10.0.0.1"}, {"Office", "10.0.0.2"}, {"Lab", "10.0.0.1"}, {"Lab", "10.0.0.9"}};
  const std::vector<std::string> numbers = {"1", "2", "3", "7"};
  auto walk = [&](const auto& server) {
    std::vector<size_t> rows;
    for (size_t i = 0; i < model.rowCount(); ++i)
      if (model.row(i).serverName == server.first && model.row(i).serverIp == server.second)
        rows.push_back(i);
    return rows;
  };
  auto expectAgreement = [&](const char* after) {
    for (const auto& server : servers) {
      const auto rows = walk(server);
      EXPECT_EQ(model.RowsOf(server.first, server.second), rows) << after << " " << server.first;
      for (const auto& number : numbers) {
        std::optional<size_t> first;
        for (size_t i : rows)
          if (!first && model.row(i).deviceNumber == number) first = i;
        EXPECT_EQ(model.FindRow(server.first, server.second, number), first)
            << after << " " << server.first << " " << server.second << " #" << number;
      }
    }
  };
  // Slot 3 is storage, so the sort moves every server's third row to the front.
  for (size_t s = 0; s < 3; ++s) {
    for (const char* number : {"1", "2", "3"}) {
      const char* type = number[0] == '3' ? "MASS STORAGE" : "SCANNER";
      DeviceData d = Device(type, "Corvid", "Flat", number);
      d.serverName = servers[s].first;
      d.serverIp = servers[s].second;
      model.AppendRow(std::make_unique<DeviceData>(d));
    }
  }
  expectAgreement("appends");
  model.SortRows();
  expectAgreement("a sort");
  model.RemoveRow(4);
  model.RemoveRow(0);
  expectAgreement("removals in the middle and at the front");
  model.EditRow(1, [](DeviceData& d) {
    d.serverName = "Lab";
    d.serverIp = "10.0.0.9";
  });
  expectAgreement("an edit that moves a row to another server");
  model.EditRow(2, [](DeviceData& d) { d.deviceNumber = "7"; });
  expectAgreement("an edit of a device number");
  model.RemoveRow(model.rowCount() - 1);
  expectAgreement("removing the last row");
  while (model.rowCount() > 0) model.RemoveRow(0);
  expectAgreement("emptied");
}

// A sort looks only at the rows appended or edited since the last one; each change that puts a
// row out of place must still get the list sorted, and an unchanged order tells no one.
TEST(DeviceListModel, SortFindsEveryRowOutOfPlace) {
  auto product = [](std::string p) { return [p](DeviceData& d) { d.product = p; }; };
  const struct Case {
    const char* what;
    std::function<void(DeviceListModel&)> change;
    std::vector<std::string> order;  // products after the sort
    bool reordered;
  } cases[] = {
      {"an edit that keeps the order",
       [](auto& m) { m.EditRow(1, [](DeviceData& d) { d.owner = "PC-B"; }); },
       {"B", "C", "D", "E"},
       false},
      {"an edit that moves a row forward",
       [&](auto& m) { m.EditRow(3, product("A")); },
       {"A", "B", "C", "D"},
       true},
      {"an edit that moves a row back",
       [&](auto& m) { m.EditRow(0, product("F")); },
       {"C", "D", "E", "F"},
       true},
      {"an edit in the middle",
       [&](auto& m) { m.EditRow(2, product("B0")); },
       {"B", "B0", "C", "E"},
       true},
      {"an appended row that sorts first",
       [](auto& m) { m.AppendRow(std::make_unique<DeviceData>(Device("PRINTER", "M", "A", "5"))); },
       {"A", "B", "C", "D", "E"},
       true},
      {"an edited row that a removal before it moved up",
       [&](auto& m) {
         m.EditRow(3, product("A"));
         m.RemoveRow(0);
       },
       {"A", "C", "D"},
       true},
      {"an edit undone by a second one",
       [&](auto& m) {
         m.EditRow(1, product("Z"));
         m.EditRow(1, product("C"));
       },
       {"B", "C", "D", "E"},
       false},
  };
  for (const Case& c : cases) {
    FakeClock clock;
    RecordingWindow window(clock);
    DeviceListModel model(window);
    for (const char* p : {"B", "C", "D", "E"})
      model.AppendRow(std::make_unique<DeviceData>(Device("PRINTER", "M", p, "1")));
    model.SortRows();
    Trace trace(model);
    model.AddListener(&trace);
    c.change(model);
    model.SortRows();
    model.RemoveListener(&trace);
    std::vector<std::string> order;
    for (size_t i = 0; i < model.rowCount(); ++i) order.push_back(model.row(i).product);
    EXPECT_EQ(order, c.order) << c.what;
    EXPECT_EQ(std::count(trace.events.begin(), trace.events.end(), "sort?"), c.reordered ? 1 : 0)
        << c.what;
  }
}
