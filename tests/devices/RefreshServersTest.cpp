// SPDX-License-Identifier: GPL-2.0-or-later
// The server refresh over a scripted bus: the server list before and after, the stored enables,
// the Spurs it opens and closes, and the rows that go with a server.
#include "tests/support/RefreshFixture.h"

using namespace tessaro;
using namespace tessaro::testing;

namespace {

const Hub kA{"192.168.1.20", "Office", "00:1C:F0:AA:0B:01"};
const Hub kB{"192.168.1.21", "Lab", "00:1C:F0:AA:0B:02"};
const Hub kC{"192.168.1.22", "Studio", "00:1C:F0:AA:0B:03"};

Hub WithState(Hub h, uint8_t state) {
  h.state = state;
  return h;
}
Hub Named(Hub h, std::string name) {
  h.name = std::move(name);
  return h;
}
Hub At(Hub h, std::string ip) {
  h.ip = std::move(ip);
  return h;
}

struct MergeCase {
  const char* what;
  std::vector<std::pair<Hub, bool>> stored;  // server entries in the user hive
  std::vector<Hub> before;                   // listed by a first refresh (none when empty)
  std::vector<Hub> after;                    // reported at the refresh under test
  std::vector<std::string> spurs;            // addresses whose Spur appears when attached
  std::string gateway;                       // the first-run gateway
  std::vector<std::string> expected;         // "name ip enabled|disabled [spur]" in list order
};

void PrintTo(const MergeCase& c, std::ostream* os) { *os << c.what; }

class ServerMerge : public RefreshTest, public ::testing::WithParamInterface<MergeCase> {};

}  // namespace

TEST_P(ServerMerge, ListMatchesTheBus) {
  const MergeCase& c = GetParam();
  for (const auto& [hub, enabled] : c.stored) Store(hub, enabled);
  for (const auto& ip : c.spurs) SpurAppears(ip, {});
  state.firstRunGateway = c.gateway;
  if (!c.before.empty()) {
    Report(c.before);
    ASSERT_TRUE(cycle.RefreshServers());
  }
  Report(c.after);
  ASSERT_TRUE(cycle.RefreshServers());
  EXPECT_EQ(Servers(), c.expected);
  // Exactly the listed servers' Spurs stay open, besides the Trunk.
  int spursOpen = 0;
  for (const auto& s : model.servers()) spursOpen += s->handle != kInvalidBusHandle;
  EXPECT_EQ(bus.openHandles(), 1 + spursOpen);
  if (!c.gateway.empty()) {
    for (const auto& s : model.servers())
      if (s->ip == c.gateway) {
        EXPECT_EQ(StoredEnable({s->ip, s->name, s->mac}), true);
      }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ServerMerge,
    ::testing::Values(
        MergeCase{"servers not answering or incompatible are left out",
                  {},
                  {},
                  {kA, WithState(kB, 0), WithState(kC, 2)},
                  {},
                  "",
                  {"Office 192.168.1.20 disabled"}},
        MergeCase{"an entry moved into a dropped one's place is examined too",
                  {},
                  {},
                  {WithState(kA, 0), kB, WithState(kC, 2)},
                  {},
                  "",
                  {"Lab 192.168.1.21 disabled"}},
        MergeCase{"a stored enable attaches the server",
                  {{kA, true}},
                  {},
                  {kA, kB},
                  {kA.ip},
                  "",
                  {"Lab 192.168.1.21 disabled", "Office 192.168.1.20 enabled spur"}},
        MergeCase{"a stored disable lists the server without a bus",
                  {{kA, false}},
                  {},
                  {kA},
                  {kA.ip},
                  "",
                  {"Office 192.168.1.20 disabled"}},
        MergeCase{"the first-run gateway is enabled, stored and attached",
                  {},
                  {},
                  {kA, kB},
                  {kA.ip, kB.ip},
                  kA.ip,
                  {"Lab 192.168.1.21 disabled", "Office 192.168.1.20 enabled spur"}},
        MergeCase{"an enabled server whose bus never opens stays out",
                  {{kA, true}},
                  {},
                  {kA, kB},
                  {},
                  "",
                  {"Lab 192.168.1.21 disabled"}},
        MergeCase{
            "sorted by name, then address, without regard to case",
            {},
            {},
            {Named(At(kB, "10.0.0.9"), "beta"), Named(At(kA, "10.0.0.5"), "Alpha"),
             Named(At(kC, "10.0.0.40"), "alpha")},
            {},
            "",
            {"alpha 10.0.0.40 disabled", "Alpha 10.0.0.5 disabled", "beta 10.0.0.9 disabled"}},
        MergeCase{"a vanished server goes with its Spur",
                  {{kA, true}},
                  {kA, kB},
                  {kB},
                  {kA.ip},
                  "",
                  {"Lab 192.168.1.21 disabled"}},
        MergeCase{"a server that stops answering goes",
                  {{kA, true}},
                  {kA, kB},
                  {WithState(kA, 0), kB},
                  {kA.ip},
                  "",
                  {"Lab 192.168.1.21 disabled"}},
        MergeCase{"a renamed server is a new one, attached again by its stored enable",
                  {{kA, true}},
                  {kA},
                  {Named(kA, "Office-2")},
                  {kA.ip},
                  "",
                  {"Office-2 192.168.1.20 enabled spur"}}),
    CaseName<MergeCase>);

TEST_F(RefreshTest, KnownServerTakesNewFieldsAndKeepsItsBus) {
  Listed(kA, {Dev{}});
  const BusHandle spur = model.servers()[0]->handle;
  Hub changed = kA;
  changed.mac = "00:1C:F0:AA:0B:7F";
  changed.storageMode = 0;
  Report({changed});
  ASSERT_TRUE(cycle.RefreshServers());
  ASSERT_EQ(model.servers().size(), 1u);
  const ServerData& s = *model.servers()[0];
  EXPECT_EQ(s.mac, "00:1C:F0:AA:0B:7F");
  EXPECT_EQ(s.storageMode, 0);
  EXPECT_EQ(s.displayName, "Office - 192.168.1.20");
  EXPECT_TRUE(s.enabled);
  EXPECT_EQ(s.handle, spur);
  EXPECT_EQ(Requests(busop::kAttachServer), 1u) << "a known server is not attached again";
}

// The device-list event caused by the attach reaches the dispatcher before the server is in
// ServerList and is dropped there, so the refresh lists the devices of a server it attached.
TEST_F(RefreshTest, AttachedServerIsListedWithItsDevices) {
  Store(kA, true);
  SpurAppears(
      kA.ip,
      {Dev{.number = 1},
       Dev{.number = 2, .type = "MASS STORAGE", .manufacturer = "Keystone", .product = "Drive"}});
  Report({kA});
  ASSERT_TRUE(cycle.RefreshServers());
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Keystone - Drive", "Lumen - Laser 2040"}));
  ASSERT_NE(Row(kA.ip, "1"), nullptr);
  EXPECT_EQ(Row(kA.ip, "1")->handle, model.servers()[0]->handle);
  EXPECT_EQ(Row(kA.ip, "1")->serverMac, kA.mac);
  EXPECT_EQ(window.notePanelVisible, false);
}

TEST_F(RefreshTest, VanishedServerTakesOnlyItsOwnRows) {
  Store(kA, true);
  Store(kB, true);
  SpurAppears(kA.ip, {Dev{.number = 1}});
  SpurAppears(kB.ip, {Dev{.number = 1}, Dev{.number = 2, .serial = "LW2040-2"}});
  Report({kA, kB});
  ASSERT_TRUE(cycle.RefreshServers());
  ASSERT_EQ(model.rowCount(), 3u);
  const int repaints = window.repaints;
  Report({kA});
  ASSERT_TRUE(cycle.RefreshServers());
  EXPECT_EQ(Servers(), (std::vector<std::string>{"Office 192.168.1.20 enabled spur"}));
  ASSERT_EQ(model.rowCount(), 1u);
  EXPECT_EQ(model.row(0).serverIp, kA.ip);
  EXPECT_GT(window.repaints, repaints);
  EXPECT_EQ(bus.openHandles(), 2);
}

TEST_F(RefreshTest, EmptyServerListClearsEverything) {
  Listed(kA, {Dev{.number = 1}, Dev{.number = 2, .serial = "2"}});
  ASSERT_EQ(model.rowCount(), 2u);
  Report({});
  ASSERT_TRUE(cycle.RefreshServers());
  EXPECT_TRUE(model.servers().empty());
  EXPECT_EQ(model.rowCount(), 0u);
  EXPECT_EQ(bus.openHandles(), 1) << "every Spur is closed";
  EXPECT_EQ(window.notePanelVisible, true);
}

TEST_F(RefreshTest, FailedServerListChangesNothing) {
  Listed(kA, {Dev{}});
  const auto before = Servers();
  bus.SetReply(kTrunk, busop::kGetServerList, FakeBusTransport::Fail(buserr::kGenFailure));
  EXPECT_FALSE(cycle.RefreshServers());
  EXPECT_EQ(Servers(), before);
  EXPECT_EQ(model.rowCount(), 1u);
  // A reply whose first byte is 0 is no list either (asked twice, a second apart).
  bus.SetReply(kTrunk, busop::kGetServerList, FakeBusTransport::Success(Bytes(64, 0)));
  EXPECT_FALSE(cycle.RefreshServers());
  EXPECT_EQ(Servers(), before);
}

TEST_F(RefreshTest, WithoutTrunkNothingIsAsked) {
  state.trunk = kInvalidBusHandle;
  Report({kA});
  EXPECT_FALSE(cycle.RefreshServers());
  EXPECT_EQ(Requests(busop::kGetServerList), 0u);
}

TEST_F(RefreshTest, BusThatNeverOpensIsTriedTenTimesThenAgainNextRefresh) {
  Store(kA, true);
  Report({kA});
  ASSERT_TRUE(cycle.RefreshServers());
  EXPECT_TRUE(model.servers().empty());
  // Half a second after the attach, then nine pauses of ten 100 ms sleeps between ten listings.
  EXPECT_EQ(clock.slept(), std::chrono::milliseconds(500 + 9 * 1000));
  EXPECT_EQ(main.pumpCount(), 90);
  SpurAppears(kA.ip, {Dev{}});
  ASSERT_TRUE(cycle.RefreshServers());
  EXPECT_EQ(Servers(), (std::vector<std::string>{"Office 192.168.1.20 enabled spur"}));
  EXPECT_EQ(Requests(busop::kAttachServer), 2u);
}

TEST_F(RefreshTest, ClosingCutsTheWaitForTheBusShort) {
  Store(kA, true);
  Report({kA});
  clock.OnSleep(
      [&](auto) { state.flags.Closing = clock.slept() >= std::chrono::milliseconds(1000); });
  ASSERT_TRUE(cycle.RefreshServers());
  EXPECT_TRUE(model.servers().empty());
  EXPECT_LT(clock.slept(), std::chrono::milliseconds(2000));
}

TEST_F(RefreshTest, OnlyTheFirstSpurWithTheAddressIsKept) {
  Store(kA, true);
  SpurAppears(kA.ip, {Dev{}});
  bus.SetInterfaces(InterfaceClass::Spur,
                    std::vector<std::string>{"spur/" + kA.ip, "spur/" + kA.ip, "spur/other"});
  Report({kA});
  ASSERT_TRUE(cycle.RefreshServers());
  ASSERT_EQ(model.servers().size(), 1u);
  EXPECT_EQ(bus.openHandles(), 2) << "the Trunk and one Spur";
}

// The waits process events: a server-list event handled meanwhile runs a nested refresh, which
// lists the same new server first. The outer refresh must not list it twice.
TEST_F(RefreshTest, NestedRefreshDuringAttachListsTheServerOnce) {
  Store(kA, true);
  Report({kA});
  main.Post([&] {
    SpurAppears(kA.ip, {Dev{.number = 1}});
    cycle.RefreshServers();
  });
  ASSERT_TRUE(cycle.RefreshServers());
  EXPECT_EQ(Servers(), (std::vector<std::string>{"Office 192.168.1.20 enabled spur"}));
  EXPECT_EQ(model.rowCount(), 1u);
  EXPECT_EQ(bus.openHandles(), 2) << "the outer refresh closed the Spur it opened";
}

TEST_F(RefreshTest, LockHeldElsewhereIsAwaitedThenTheRefreshRunsAnyway) {
  FileNamedMutex otherProcess(kRefreshLockMutexName, dir.path());
  ASSERT_TRUE(otherProcess.TryLock());
  Report({kA});
  ASSERT_TRUE(cycle.RefreshServers());
  EXPECT_EQ(clock.sleeps(), std::vector<Clock::Duration>(31, kRefreshLockPoll));
  EXPECT_EQ(main.pumpCount(), 31);
  EXPECT_EQ(Servers(), (std::vector<std::string>{"Office 192.168.1.20 disabled"}));

  state.flags.Closing = true;
  const auto slept = clock.slept();
  cycle.RefreshServers();
  EXPECT_EQ(clock.slept() - slept, kRefreshLockPoll) << "closing ends the wait after one poll";
}

TEST_F(RefreshTest, LockIsFreeAgainAfterEveryOperation) {
  Listed(kA, {Dev{}});
  FileNamedMutex otherProcess(kRefreshLockMutexName, dir.path());
  EXPECT_TRUE(otherProcess.TryLock());
  otherProcess.Unlock();
  EXPECT_EQ(cycle.RefreshDevices(model.servers()[0].get()), DeviceRefresh::Merged);
  EXPECT_TRUE(otherProcess.TryLock());
  otherProcess.Unlock();
}

TEST_F(RefreshTest, CloseServersClosesEverySpur) {
  for (const Hub& h : {kA, kB}) {
    Store(h, true);
    SpurAppears(h.ip, {});
  }
  Report({kA, kB});
  ASSERT_TRUE(cycle.RefreshServers());
  ASSERT_EQ(bus.openHandles(), 3);
  cycle.CloseServers();
  EXPECT_TRUE(model.servers().empty());
  EXPECT_EQ(bus.openHandles(), 1);
}
