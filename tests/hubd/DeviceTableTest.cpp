// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "hubd/DeviceTable.h"
#include "tests/support/FakeClock.h"

using namespace tessaro::hubd;
using namespace std::chrono_literals;
using tessaro::testing::FakeClock;

namespace {

DeviceConfig Device(uint8_t number, uint16_t vendor, uint16_t product, std::string name = "P") {
  DeviceConfig d;
  d.number = number;
  d.vendorId = vendor;
  d.productId = product;
  d.product = std::move(name);
  return d;
}

enum class Op { Link, Unlink, Lock, Unlock, Wait };

// One request of a PC, or (Wait) time passing followed by the expiry check the server runs.
struct Step {
  const char* pc;
  Op op;
  uint8_t number;
  uint8_t kind;
  uint32_t seconds;  // lock time, linger, or the wait
  uint32_t status;
  bool changed;
};

struct Scenario {
  const char* name;
  // Device 1 afterwards.
  std::string owner;
  uint8_t lockCount;
  uint8_t lockKind;
  std::vector<Step> steps;
};
void PrintTo(const Scenario& row, std::ostream* os) { *os << row.name; }

constexpr uint32_t OK = kStatusOk, REFUSED = kStatusRefused, NOT_FOUND = kStatusNotFound;

class OwnershipTable : public ::testing::TestWithParam<Scenario> {};

TEST_P(OwnershipTable, StepsGiveTheirResultsAndNotices) {
  FakeClock clock;
  DeviceTable table(clock);
  table.Replace({Device(1, 0x04F9, 0x0042), Device(2, 0x0781, 0x5567)});
  int i = 0;
  for (const Step& s : GetParam().steps) {
    DeviceTable::Outcome out;
    switch (s.op) {
      case Op::Link: out = table.Link(s.number, s.pc); break;
      case Op::Unlink: out = table.Unlink(s.number, s.pc); break;
      case Op::Lock: out = table.Lock(s.number, s.pc, s.kind, s.seconds); break;
      case Op::Unlock: out = table.Unlock(s.number, s.pc, s.seconds); break;
      case Op::Wait:
        clock.Advance(std::chrono::seconds(s.seconds));
        out.changed = table.Expire();
        break;
    }
    EXPECT_EQ(out.status, s.status) << "step " << i;
    EXPECT_EQ(out.changed, s.changed) << "step " << i;
    ++i;
  }
  const auto d = table.List().at(0);
  EXPECT_EQ(d.owner, GetParam().owner);
  EXPECT_EQ(d.lockCount, GetParam().lockCount);
  EXPECT_EQ(d.lockKind, GetParam().lockKind);
  EXPECT_EQ(table.List().at(1).owner, "") << "device 2 is never touched";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    TwoPcs, OwnershipTable,
    ::testing::Values(
        Scenario{"LinkFreeDevice", "A", 0, 0, {
            {"A", Op::Link, 1, 0, 0, OK, true},
        }},
        Scenario{"RelinkOwnDeviceChangesNothing", "A", 0, 0, {
            {"A", Op::Link, 1, 0, 0, OK, true},
            {"A", Op::Link, 1, 0, 0, OK, false},
        }},
        // A link without a lock can be taken over.
        Scenario{"OtherPcTakesUnlockedDevice", "B", 0, 0, {
            {"A", Op::Link, 1, 0, 0, OK, true},
            {"B", Op::Link, 1, 0, 0, OK, true},
        }},
        Scenario{"LockedDeviceRefusesOtherPcsLink", "A", 1, 2, {
            {"A", Op::Link, 1, 0, 0, OK, true},
            {"A", Op::Lock, 1, 2, 60, OK, true},
            {"B", Op::Link, 1, 0, 0, REFUSED, false},
        }},
        Scenario{"OwnerRelinksItsLockedDevice", "A", 1, 2, {
            {"A", Op::Link, 1, 0, 0, OK, true},
            {"A", Op::Lock, 1, 2, 60, OK, true},
            {"A", Op::Link, 1, 0, 0, OK, false},
        }},
        Scenario{"OnlyTheOwnerLocks", "A", 0, 0, {
            {"B", Op::Lock, 1, 2, 60, REFUSED, false},
            {"A", Op::Link, 1, 0, 0, OK, true},
            {"B", Op::Lock, 1, 2, 60, REFUSED, false},
        }},
        Scenario{"SecondLockReplacesKind", "A", 1, 3, {
            {"A", Op::Link, 1, 0, 0, OK, true},
            {"A", Op::Lock, 1, 2, 60, OK, true},
            {"A", Op::Lock, 1, 3, 60, OK, true},
            {"A", Op::Lock, 1, 3, 90, OK, false},
        }},
        Scenario{"OnlyTheOwnerUnlocks", "A", 0, 0, {
            {"A", Op::Link, 1, 0, 0, OK, true},
            {"A", Op::Lock, 1, 2, 60, OK, true},
            {"B", Op::Unlock, 1, 0, 0, REFUSED, false},
            {"A", Op::Unlock, 1, 5, 0, OK, true},
        }},
        Scenario{"UnlockWithoutLockChangesNothing", "A", 0, 0, {
            {"A", Op::Link, 1, 0, 0, OK, true},
            {"A", Op::Unlock, 1, 0, 0, OK, false},
        }},
        Scenario{"UnlinkByOtherPcFails", "A", 0, 0, {
            {"A", Op::Link, 1, 0, 0, OK, true},
            {"B", Op::Unlink, 1, 0, 0, REFUSED, false},
        }},
        Scenario{"UnlinkFreesDeviceAndDropsLock", "B", 0, 0, {
            {"A", Op::Link, 1, 0, 0, OK, true},
            {"A", Op::Lock, 1, 2, 60, OK, true},
            {"A", Op::Unlink, 1, 0, 0, OK, true},
            {"B", Op::Link, 1, 0, 0, OK, true},
        }},
        Scenario{"UnlinkOfFreeDeviceFails", "", 0, 0, {
            {"A", Op::Unlink, 1, 0, 0, REFUSED, false},
        }},
        Scenario{"UnknownDevices", "", 0, 0, {
            {"A", Op::Link, 0, 0, 0, NOT_FOUND, false},
            {"A", Op::Link, 3, 0, 0, NOT_FOUND, false},
            {"A", Op::Unlink, 127, 0, 0, NOT_FOUND, false},
            {"A", Op::Lock, 200, 2, 60, NOT_FOUND, false},
            {"A", Op::Unlock, 255, 0, 0, NOT_FOUND, false},
        }},
        // Time: expiry and linger.
        Scenario{"LockExpiresAtItsSecondsAndOwnerStays", "A", 0, 0, {
            {"A", Op::Link, 1, 0, 0, OK, true},
            {"A", Op::Lock, 1, 2, 10, OK, true},
            {"", Op::Wait, 0, 0, 9, OK, false},
            {"B", Op::Link, 1, 0, 0, REFUSED, false},
            {"", Op::Wait, 0, 0, 1, OK, true},
            {"", Op::Wait, 0, 0, 100, OK, false},
        }},
        Scenario{"ExpiredLockLetsOtherPcLink", "B", 0, 0, {
            {"A", Op::Link, 1, 0, 0, OK, true},
            {"A", Op::Lock, 1, 2, 10, OK, true},
            {"", Op::Wait, 0, 0, 10, OK, true},
            {"B", Op::Link, 1, 0, 0, OK, true},
        }},
        Scenario{"UnlockLingersThenEnds", "A", 0, 0, {
            {"A", Op::Link, 1, 0, 0, OK, true},
            {"A", Op::Lock, 1, 2, 600, OK, true},
            {"A", Op::Unlock, 1, 0, 5, OK, false},
            {"", Op::Wait, 0, 0, 4, OK, false},
            {"B", Op::Link, 1, 0, 0, REFUSED, false},
            {"", Op::Wait, 0, 0, 1, OK, true},
        }},
        Scenario{"LingerNeverOutlivesTheLock", "A", 0, 0, {
            {"A", Op::Link, 1, 0, 0, OK, true},
            {"A", Op::Lock, 1, 2, 10, OK, true},
            {"A", Op::Unlock, 1, 0, 300, OK, false},
            {"", Op::Wait, 0, 0, 10, OK, true},
        }},
        Scenario{"LockDuringLingerRenewsIt", "A", 1, 4, {
            {"A", Op::Link, 1, 0, 0, OK, true},
            {"A", Op::Lock, 1, 2, 600, OK, true},
            {"A", Op::Unlock, 1, 0, 5, OK, false},
            {"A", Op::Lock, 1, 4, 60, OK, true},
            {"", Op::Wait, 0, 0, 30, OK, false},
        }}),
    // clang-format on
    [](const auto& row) { return std::string(row.param.name); });

TEST(DeviceTable, SimultaneousExpiriesGiveOneNoticeAndDeadlinesFollowTheEarliestLock) {
  FakeClock clock;
  DeviceTable table(clock);
  table.Replace({Device(1, 1, 1), Device(2, 2, 2), Device(3, 3, 3)});
  EXPECT_FALSE(table.NextDeadline());
  for (uint8_t n = 1; n <= 3; ++n) table.Link(n, "A");
  table.Lock(1, "A", 1, 30);
  table.Lock(2, "A", 1, 20);
  table.Lock(3, "A", 1, 20);
  EXPECT_EQ(table.NextDeadline(), clock.Now() + 20s);
  clock.Advance(20s);
  EXPECT_TRUE(table.Expire());
  EXPECT_FALSE(table.Expire());
  EXPECT_EQ(table.NextDeadline(), clock.Now() + 10s);
  EXPECT_EQ(table.List()[0].lockCount, 1);
  EXPECT_EQ(table.List()[1].lockCount, 0);
}

TEST(DeviceTable, LockOfMaximalSecondsDoesNotOverflow) {
  FakeClock clock;
  DeviceTable table(clock);
  table.Replace({Device(1, 1, 1)});
  table.Link(1, "A");
  table.Lock(1, "A", 1, UINT32_MAX);
  ASSERT_TRUE(table.NextDeadline());
  EXPECT_GT(*table.NextDeadline(), clock.Now() + 100000h);
  clock.Advance(24h);
  EXPECT_FALSE(table.Expire());
}

class DeviceTableReload : public ::testing::Test {
 protected:
  DeviceTableReload() {
    table.Replace(
        {Device(1, 0x1111, 0x0001), Device(2, 0x2222, 0x0002), Device(3, 0x3333, 0x0003)});
    for (uint8_t n = 1; n <= 3; ++n) {
      table.Link(n, "A");
      table.Lock(n, "A", 7, 60);
    }
  }
  FakeClock clock;
  DeviceTable table{clock};
};

TEST_F(DeviceTableReload, KeepsStateOnlyWhereNumberVendorAndProductStay) {
  const bool changed = table.Replace({
      Device(1, 0x1111, 0x0001, "renamed"),  // same identity: keeps owner and lock
      Device(2, 0x2222, 0x0099),             // other product ID: a new device, free
      Device(3, 0x3334, 0x0003),             // other vendor ID: free
      Device(9, 0x9999, 0x0009),             // new
  });
  EXPECT_TRUE(changed);
  const auto list = table.List();
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0].owner, "A");
  EXPECT_EQ(list[0].lockCount, 1);
  EXPECT_EQ(list[0].lockKind, 7);
  EXPECT_EQ(list[0].product, "renamed");
  for (size_t i = 1; i < 4; ++i) {
    EXPECT_EQ(list[i].owner, "") << i;
    EXPECT_EQ(list[i].lockCount, 0) << i;
  }
  // The kept lock still ends at its old time.
  EXPECT_EQ(table.NextDeadline(), clock.Now() + 60s);
  EXPECT_EQ(table.Link(2, "B").status, kStatusOk);
}

TEST_F(DeviceTableReload, RemovedDeviceIsGoneAndNoChangeMeansNoNotice) {
  const std::vector<DeviceConfig> same = {Device(1, 0x1111, 0x0001), Device(2, 0x2222, 0x0002),
                                          Device(3, 0x3333, 0x0003)};
  EXPECT_FALSE(table.Replace(same));
  EXPECT_TRUE(table.Replace({Device(3, 0x3333, 0x0003), Device(1, 0x1111, 0x0001)}));
  const auto list = table.List();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].number, 1);  // sorted, whatever order the config gave
  EXPECT_EQ(list[1].owner, "A");
  EXPECT_EQ(table.Link(2, "A").status, kStatusNotFound);
}

}  // namespace
