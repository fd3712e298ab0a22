// SPDX-License-Identifier: GPL-2.0-or-later
// The dispatch of driver event records on the main thread, the release request it arms, and the
// trunk-update timer that waits for quiet after server-list events.
#include "tests/support/RefreshFixture.h"

using namespace tessaro;
using namespace tessaro::testing;

namespace {

const Hub kHub{"192.168.1.20", "Office", "00:1C:F0:AA:0B:01"};
const Hub kOff{"192.168.1.21", "Lab", "00:1C:F0:AA:0B:02"};
const Dev kPrinter{.number = 1};
const Dev kStorage{.number = 2,
                   .type = "MASS STORAGE",
                   .manufacturer = "Keystone",
                   .product = "Drive 32",
                   .serial = "KS1"};

Bytes First(Bytes record, size_t n) {
  record.resize(n);
  return record;
}

class DispatchTest : public RefreshTest {
 protected:
  void Dispatch(const Bytes& record) {
    dispatcher.Dispatch(record, static_cast<int64_t>(record.size()));
  }
  // Advances the clock in steps and fires the window's timer when it is due.
  void Run(std::chrono::milliseconds span) {
    for (auto t = std::chrono::milliseconds(0); t < span; t += std::chrono::milliseconds(10)) {
      clock.Advance(std::chrono::milliseconds(10));
      if (window.TakeDueTimer()) dispatcher.OnReleaseRequestTimer();
    }
  }
  ScriptedUi ui;
  bool networkReady = true;
  DriverEventDispatcher dispatcher{cycle,  model, state, refreshLock,
                                   window, ui,    clock, [this] { return networkReady; }};
};

}  // namespace

TEST_F(DispatchTest, DeviceListEventRefreshesThatServersRows) {
  Listed(kHub, {kPrinter});
  Devices(kHub.ip, {kPrinter, kStorage});
  Dispatch(DeviceListEvent(kHub.ip));
  EXPECT_EQ(model.rowCount(), 2u);
}

TEST_F(DispatchTest, DeviceListEventsThatChangeNothing) {
  Store(kOff, false);
  SpurAppears(kOff.ip, {kPrinter});
  Listed(kHub, {kPrinter});
  Report({kHub, kOff});
  ASSERT_TRUE(cycle.RefreshServers());
  Devices(kHub.ip, {kPrinter, kStorage});
  Devices(kOff.ip, {kPrinter, kStorage});
  const size_t asked = Requests(busop::kGetDeviceList);

  struct Case {
    const char* what;
    std::function<void()> arrange;
    Bytes record;
    int64_t count;
  } cases[] = {
      {"a disabled server's address", [] {}, DeviceListEvent(kOff.ip), 16},
      {"an address no server has", [] {}, DeviceListEvent("10.9.9.9"), 16},
      {"while a device command runs", [&] { state.flags.OperationBusy = true; },
       DeviceListEvent(kHub.ip), 16},
      {"while the window closes", [&] { state.flags.Closing = true; }, DeviceListEvent(kHub.ip),
       16},
      {"an empty completed read", [] {}, Bytes(16, 0), 16},
      {"a negative byte count", [] {}, DeviceListEvent(kHub.ip), -1},
      {"a record too short for its address", [] {}, First(DeviceListEvent(kHub.ip), 12), 12},
      {"an unknown kind", [] {}, Bytes{9, 0, 0, 0}, 4},
      {"a kind-5 record", [] {}, Bytes(16, 5), 16},
  };
  for (const auto& c : cases) {
    state.flags = {};
    c.arrange();
    dispatcher.Dispatch(c.record, c.count);
    EXPECT_EQ(model.rowCount(), 1u) << c.what;
    EXPECT_EQ(Requests(busop::kGetDeviceList), asked) << c.what;
  }
}

TEST_F(DispatchTest, DeviceListEventDroppedWhileAnotherProcessRefreshes) {
  Listed(kHub, {kPrinter});
  Devices(kHub.ip, {kPrinter, kStorage});
  FileNamedMutex otherProcess(kRefreshLockMutexName, dir.path());
  ASSERT_TRUE(otherProcess.TryLock());
  const auto slept = clock.slept();
  Dispatch(DeviceListEvent(kHub.ip));
  EXPECT_EQ(model.rowCount(), 1u);
  EXPECT_EQ(clock.slept(), slept) << "the event never waits for the lock";
  otherProcess.Unlock();
  Dispatch(DeviceListEvent(kHub.ip));
  EXPECT_EQ(model.rowCount(), 2u);
}

TEST_F(DispatchTest, ServerListEventRefreshesServersAndHoldsTheTimerBack) {
  Report({kHub});
  Bytes kind2(16, 0);
  kind2[0] = 2;
  Dispatch(kind2);
  EXPECT_EQ(Servers(), (std::vector<std::string>{"Office 192.168.1.20 disabled"}));
  EXPECT_FALSE(cycle.TrunkUpdateTick());
}

TEST_F(DispatchTest, AddressEventChecksTheNetworkThenRefreshes) {
  Report({kHub});
  Bytes kind3(16, 0);
  kind3[0] = 3;
  networkReady = false;
  Dispatch(kind3);
  networkReady = true;
  Dispatch(kind3);
  EXPECT_EQ(window.networkChecks, (std::vector<bool>{false, true}));
  EXPECT_EQ(Requests(busop::kGetServerList), 2u);
  EXPECT_EQ(model.servers().size(), 1u);
}

TEST_F(DispatchTest, TwoRequestsWithinHalfASecondShowOneMessageForTheSecond) {
  Listed(kHub, {kPrinter, kStorage});
  // Both devices held by this PC.
  for (size_t i = 0; i < model.rowCount(); ++i)
    model.EditRow(i, [](DeviceData& d) { d.owner = "PC-A"; });
  Dispatch(RequestToUseEvent(kHub.ip, 1));
  Run(std::chrono::milliseconds(300));
  Dispatch(RequestToUseEvent(kHub.ip, 2));
  EXPECT_EQ(dispatcher.releaseRequest().firesAt, clock.Now() + kReleaseRequestDelay);
  Run(std::chrono::milliseconds(1000));
  const auto messages = ui.messages();
  ASSERT_EQ(messages.size(), 1u);
  const MessageRequest& m = messages[0];
  EXPECT_EQ(m.text,
            "Please release the Keystone - Drive 32\n(disconnect) resources for other user.");
  EXPECT_EQ(m.caption, "Tessaro Utility");
  EXPECT_EQ(m.flags, 0x40030u);
  EXPECT_FALSE(m.ownedByMainWindow);
  EXPECT_FALSE(dispatcher.releaseRequest().armed);
}

TEST_F(DispatchTest, RequestsThatShowNothing) {
  Listed(kHub, {kPrinter, kStorage});
  model.EditRow(0, [](DeviceData& d) { d.owner = "PC-B"; });  // storage: another PC's
  model.EditRow(1, [](DeviceData& d) { d.owner = "PC-A"; });  // printer: ours
  struct Case {
    const char* what;
    Bytes record;
  } cases[] = {
      {"a device this PC does not hold", RequestToUseEvent(kHub.ip, 2)},
      {"a sub-code other than 1", RequestToUseEvent(kHub.ip, 1, 2)},
      {"another server's device", RequestToUseEvent("192.168.1.99", 1)},
      {"no such device", RequestToUseEvent(kHub.ip, 7)},
  };
  for (const auto& c : cases) {
    Dispatch(c.record);
    Run(std::chrono::milliseconds(600));
    EXPECT_TRUE(ui.messages().empty()) << c.what;
    EXPECT_TRUE(window.timerStarts.empty()) << c.what;
  }
}

TEST_F(DispatchTest, ClosingBeforeTheTimerFiresShowsNothing) {
  Listed(kHub, {kPrinter});
  model.EditRow(0, [](DeviceData& d) { d.owner = "PC-A"; });
  Dispatch(RequestToUseEvent(kHub.ip, 1));
  state.flags.Closing = true;
  Run(std::chrono::milliseconds(600));
  EXPECT_TRUE(ui.messages().empty());
}

TEST_F(DispatchTest, TimerWaitsForThreeQuietSecondsAfterServerListEvents) {
  Report({kHub});
  const Bytes kind2{2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  Dispatch(kind2);
  clock.Advance(std::chrono::seconds(1));
  Dispatch(kind2);
  const size_t asked = Requests(busop::kGetServerList);
  // Ticks every 500 ms: nothing until three whole seconds after the second event.
  int ticks = 0;
  while (!cycle.TrunkUpdateTick()) {
    clock.Advance(std::chrono::milliseconds(500));
    ++ticks;
    ASSERT_LT(ticks, 20);
  }
  EXPECT_EQ(ticks, 6);
  EXPECT_EQ(Requests(busop::kGetServerList), asked + 1);
  EXPECT_EQ(window.notePanelVisible, true) << "no rows after the timer's refresh";
}

// The timer's refresh processes events while it waits; a tick handled then does nothing.
TEST_F(DispatchTest, TickDuringTheTimersOwnRefreshDoesNothing) {
  Store(kHub, true);
  Report({kHub});
  bool nestedRan = true;
  main.Post([&] { nestedRan = cycle.TrunkUpdateTick(); });
  EXPECT_TRUE(cycle.TrunkUpdateTick());
  EXPECT_FALSE(nestedRan);
  EXPECT_EQ(Requests(busop::kGetServerList), 1u);
}

TEST_F(DispatchTest, FirstTickRefreshesAtOnce) {
  Listed(kHub, {kPrinter});
  window.notePanelCalls.clear();
  EXPECT_TRUE(cycle.TrunkUpdateTick());
  EXPECT_EQ(window.notePanelCalls, (std::vector<bool>{false}));
}
