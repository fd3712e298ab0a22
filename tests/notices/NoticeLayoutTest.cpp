// SPDX-License-Identifier: GPL-2.0-or-later
// Where notices sit, how device notices share the slots, and what a click or hover does.
#include <gtest/gtest.h>

#include "notices/NoticeLayout.h"

namespace tessaro {
namespace {

TEST(NoticeGeometry, SlotsFollowTheWorkArea) {
  struct Case {
    int bottom;
    int slots;
  } const cases[] = {{738, 7}, {1040, 10}, {101, 0}, {102, 1}, {10000, 32}};
  for (const Case& c : cases) {
    EXPECT_EQ(ComputeNoticeGeometry(0, 0, 1366, c.bottom).slotCount, c.slots) << c.bottom;
  }
  const NoticeGeometry g = ComputeNoticeGeometry(0, 0, 1366, 738);
  EXPECT_EQ(g.usableBottom, 736);
  EXPECT_EQ(NoticeLeft(g, kNoticeWidth - kNarrowBy), 1366 - 190 - 16);
  // The work area's own left offset is not added.
  EXPECT_EQ(NoticeLeft(ComputeNoticeGeometry(100, 0, 1466, 738), 210), 1366 - 210 - 16);
}

TEST(NoticeSlots, TheEighthOfSevenIsNotShownAndAFreedSlotIsReused) {
  const NoticeGeometry g = ComputeNoticeGeometry(0, 0, 1366, 738);
  NoticeSlots slots(g.slotCount);
  EXPECT_FALSE(slots.AnyTaken());
  std::vector<int> lines;
  for (int i = 0; i < 7; ++i) {
    const int slot = slots.Take();
    ASSERT_EQ(slot, i);
    lines.push_back(RestingLine(g, slot));
  }
  EXPECT_EQ(slots.Take(), -1);
  // Stacked upwards, each 101 pixels above the previous; slot 0 is where the About notice rests.
  EXPECT_EQ(lines[0], RestingLine(g, -1));
  for (size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(lines[i - 1] - lines[i], 101);

  slots.Release(2);
  slots.Release(5);
  EXPECT_EQ(slots.Take(), 2);
  EXPECT_EQ(slots.Take(), 5);
  for (int i = 0; i < 7; ++i) slots.Release(i);
  EXPECT_FALSE(slots.AnyTaken());
  slots.Release(-1);  // an About notice holds no slot
  slots.Release(99);
}

TEST(NoticeContent, TextsAndClickAddresses) {
  const NoticeContent about = AboutNotice("1.0");
  EXPECT_EQ(about.text.rfind("Version : 1.0\n\n", 0), 0u);
  EXPECT_EQ(about.clickAddress, "");
  EXPECT_EQ(about.stepPauseMs, 20);
  const NoticeContent version = NewVersionNotice("v1.2", "http://www.example/tu.exe");
  EXPECT_EQ(version.text, "Tessaro Utility v1.2 is\nnow avaiable !");
  EXPECT_EQ(version.clickAddress, "http://www.example/tu.exe");
  EXPECT_TRUE(version.narrow && version.labelMoved);
  const NoticeContent device = DeviceFoundNotice("Acme Laser 1020");
  EXPECT_EQ(device.text, "Found\n\nAcme Laser 1020");
  EXPECT_EQ(device.clickAddress, "");
  EXPECT_EQ(device.stepPauseMs, 10);
  EXPECT_TRUE(device.narrow && !device.labelMoved);
}

TEST(NoticeClose, LitOnlyInsideTheInnerArea) {
  struct Case {
    int x, y;
    bool lit;
  } const cases[] = {{8, 8, true},   {4, 8, false},  {5, 5, true},
                     {13, 8, false}, {12, 12, true}, {12, 13, false}};
  for (const Case& c : cases) EXPECT_EQ(CloseHotArea(c.x, c.y, 16, 16), c.lit) << c.x << "," << c.y;
}

}  // namespace
}  // namespace tessaro
