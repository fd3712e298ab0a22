// SPDX-License-Identifier: GPL-2.0-or-later
// How a row looks and where it sorts, as tables over DeviceData; and the row model's
// notifications that a view follows.
#include <gtest/gtest.h>

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
      {"MFP", 0}, {"printer", 1}, {"mass storage", 2}, {"MASS STORAGE", 2}, {"SCANNER", 3},
      {"Scanner", 3}, {"UNKNOWN", 4}, {"Camera", 4}, {"", 4}};
  for (const auto& [type, image] : cases)
    EXPECT_EQ(LookOfRow(Device(type, "a", "b", "1"), "PC-A").imageIndex, image) << type;
}

TEST(RowOrder, ComparisonTable) {
  struct Case {
    const char* what;
    DeviceData first;
    DeviceData second;
  } cases[] = {
      {"storage before printer", Device("MASS STORAGE", "Z", "Z", "9"), Device("PRINTER", "A", "A", "1")},
      {"unknown always last", Device("SCANNER", "Z", "Z", "9"), Device("UNKNOWN", "A", "A", "1")},
      {"unknown last even against a type sorting after it", Device("ZIP DRIVE", "a", "a", "1"), Device("UNKNOWN", "a", "a", "1")},
      {"containment of UNKNOWN is exact case", Device("unknown", "a", "a", "1"), Device("UNKNOWN", "a", "a", "1")},
      {"lower-case unknown sorts as a type", Device("PRINTER", "a", "a", "1"), Device("unknown", "a", "a", "1")},
      {"marked scanners sort among scanners", Device("Scanner", "A", "a", "1"), Device("SCANNER", "B", "a", "1")},
      {"then manufacturer, without case", Device("PRINTER", "alpha", "z", "9"), Device("PRINTER", "Beta", "a", "1")},
      {"then product", Device("PRINTER", "Lumen", "A100", "9"), Device("PRINTER", "lumen", "b200", "1")},
      {"then number as text", Device("PRINTER", "Lumen", "Laser", "10"), Device("PRINTER", "Lumen", "Laser", "9")},
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
  EXPECT_EQ(trace.events, (std::vector<std::string>{"+?0", "+0", "+?1", "+1", "+?2", "+2", "sort?",
                                                    "sort 2 1 0", "~1", "-?2", "-2", "-?0", "-0",
                                                    "-?0", "-0"}));
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
