// SPDX-License-Identifier: GPL-2.0-or-later
// The running program without a window, over a scripted bus whose event reads block like the
// bus's and a refresh lock that records who holds it: a close the user chooses while a wait
// processes events, inside a driver event's handling, a timer or a command.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>

#include "app/ClientRuntime.h"
#include "tests/support/ClientWiring.h"
#include "tests/support/FakeFirewall.h"
#include "tests/support/HiveFixture.h"
#include "tests/support/OperationFakes.h"
#include "tests/support/RefreshFixture.h"
#include "tests/support/Watchdog.h"

namespace tessaro {
namespace {

namespace busop = busipc::code;
using testing::FakeBusTransport;

constexpr const char* kTrunk = "trunk/0";
const testing::Hub kHub{"127.0.0.2", "OFFICE-HUB"};
const std::string kHubCaption = "OFFICE-HUB - 127.0.0.2";

// Event reads wait, as the bus's do, until a record is queued or the reader is woken; everything
// else is the scripted bus's.
class BlockingEventBus : public BusTransport {
 public:
  explicit BlockingEventBus(FakeBusTransport& bus) : bus_(bus) {}

  std::optional<std::vector<std::string>> ListInterfaces(InterfaceClass cls) override {
    if (cls == InterfaceClass::Trunk) ++trunkListings_;
    if (away_) return std::nullopt;
    return bus_.ListInterfaces(cls);
  }
  BusHandle Open(const std::string& path) override {
    return away_ ? kInvalidBusHandle : bus_.Open(path);
  }
  void Close(BusHandle handle) override { bus_.Close(handle); }
  IoResult Control(BusHandle handle, uint32_t code, const void* input, uint32_t inputLength,
                   void* output, uint32_t outputLength) override {
    if (away_) return {false, kAwayError, 0};
    if (code == busop::kWakeEventReader) {
      std::lock_guard lock(mutex_);
      ++wakes_;
      changed_.notify_all();
    }
    return bus_.Control(handle, code, input, inputLength, output, outputLength);
  }
  IoResult ReadEvent(BusHandle handle, void* buffer, uint32_t length) override {
    std::unique_lock lock(mutex_);
    readOn_ = handle;
    changed_.notify_all();
    changed_.wait(lock, [&] { return away_ || wakes_ > 0 || !records_.empty(); });
    if (away_) {
      ++failedReads_;
      changed_.notify_all();
      return {false, kAwayError, 0};
    }
    if (wakes_ > 0) {
      --wakes_;
      return {true, 0, 0};
    }
    const testing::Bytes record = std::move(records_.front());
    records_.pop_front();
    std::memcpy(buffer, record.data(), std::min<size_t>(record.size(), length));
    return {true, 0, static_cast<uint32_t>(record.size())};
  }

  void Queue(testing::Bytes record) {
    std::lock_guard lock(mutex_);
    records_.push_back(std::move(record));
    changed_.notify_all();
  }

  // The bus goes away (busd ends) or comes back: while away nothing can be listed or opened,
  // and every request and read fails at once.
  void SetAway(bool away) {
    std::lock_guard lock(mutex_);
    away_ = away;
    changed_.notify_all();
  }
  // Until `count` reads have failed; the reader has then seen the one before the last fail.
  void WaitForFailedReads(int count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return failedReads_ >= count; });
  }
  // Until a read waits on `handle`.
  void WaitForReadOn(BusHandle handle) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return readOn_ == handle; });
  }
  int trunkListings() const { return trunkListings_; }

 private:
  static constexpr uint32_t kAwayError = 2;  // the socket is gone

  FakeBusTransport& bus_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<testing::Bytes> records_;
  int wakes_ = 0;
  std::atomic<bool> away_{false};
  int failedReads_ = 0;
  BusHandle readOn_ = kInvalidBusHandle;
  std::atomic<int> trunkListings_{0};
};

// A spooler whose queues stay quiet (each change wait ends after a moment) and hold a job while
// `waitingJob` is set. It records the holds asked for.
class QuietSpooler : public Spooler {
 public:
  OpenedQueue OpenPrinter(const std::string& name, uint32_t) override {
    return {std::make_unique<Queue>(name, *this), winerr::kSuccess};
  }
  std::optional<std::vector<SpoolerPort>> Ports() override {
    return std::vector<SpoolerPort>{{"USB001", "Virtual printer port for USB"}};
  }
  std::optional<std::vector<SpoolerPrinter>> Printers() override { return std::nullopt; }

  std::vector<std::string> holds() const {
    std::lock_guard lock(mutex_);
    return holds_;
  }
  std::atomic<bool> waitingJob{false};

 private:
  class Queue : public PrintQueue {
   public:
    Queue(std::string name, QuietSpooler& owner) : name_(std::move(name)), owner_(owner) {}
    std::optional<std::string> SetHold(QueueHold hold) override {
      std::lock_guard lock(owner_.mutex_);
      owner_.holds_.push_back(name_ + (hold == QueueHold::Held     ? " held"
                                       : hold == QueueHold::Parked ? " parked"
                                                                   : " released"));
      return std::string("USB001");
    }
    std::optional<std::vector<int32_t>> Jobs(size_t) override {
      if (owner_.waitingJob) return std::vector<int32_t>{7};
      return std::vector<int32_t>{};
    }
    bool DeleteJob(int32_t, JobControl) override { return false; }
    bool WatchChanges() override { return true; }
    ChangeWait WaitForChange(std::chrono::milliseconds, const std::atomic<bool>& stop) override {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      return stop ? ChangeWait::Stopped : ChangeWait::TimedOut;
    }

   private:
    std::string name_;
    QuietSpooler& owner_;
  };

  mutable std::mutex mutex_;
  std::vector<std::string> holds_;
};

// A record of kind 2 (server list changed) or 3 (this PC's addresses changed).
testing::Bytes EventOfKind(uint8_t kind) {
  testing::Bytes record(16, 0);
  record[0] = kind;
  return record;
}

// The refresh lock's holds, kept outside the lock so they can be read after it has gone.
struct LockLog {
  bool heldElsewhere = false;  // another process holds it: every TryLock fails
  int holds = 0;
  bool destroyed = false;
};

// Fails the case where the lock goes while held: the holder would unlock freed memory later.
class LoggedMutex : public NamedMutex {
 public:
  explicit LoggedMutex(LockLog& log) : log_(log) {}
  ~LoggedMutex() override {
    EXPECT_EQ(log_.holds, 0) << "the refresh lock goes while a frame still holds it";
    log_.destroyed = true;
  }
  bool TryLock() override {
    if (log_.heldElsewhere) return false;
    ++log_.holds;
    return true;
  }
  void Unlock() override {
    if (log_.holds > 0) --log_.holds;
  }

 private:
  LockLog& log_;
};

// The main thread, whose waits let the user act: `whileWaiting` runs in the next wait, once.
class MainWithUser : public testing::ManualMainThread {
 public:
  std::function<void()> whileWaiting;
  void ProcessPendingEvents() override {
    if (auto act = std::exchange(whileWaiting, nullptr)) act();
    ManualMainThread::ProcessPendingEvents();
  }
};

// No adapter to test; the computer name resolves to a LAN address.
class NoAdapters : public HostNetwork {
 public:
  std::vector<AdapterFacts> ListAdapters() override { return {}; }
  std::string ReadRouteTable() override { return {}; }
  std::string ReadUdpTable(bool) override { return {}; }
  std::optional<std::string> ResolveIPv4(const std::string&) override { return "192.168.2.10"; }
  int OpenBroadcastSocket(const std::string&, uint16_t, std::chrono::milliseconds) override {
    return -1;
  }
  bool SendBroadcast(int, const uint8_t*, size_t, uint16_t) override { return false; }
  ReceiveStatus Receive(int, uint8_t*, size_t, size_t&) override { return ReceiveStatus::Failed; }
  void CloseSocket(int) override {}
};

// Every call the window hears, by name, in order.
class RecordingClientWindow : public ClientWindow {
 public:
  void SetTrayLook(const TrayLook&) override { calls.push_back("tray look"); }
  void AddTrayIcon() override { calls.push_back("add tray icon"); }
  void StartMiniWindowTimer() override { calls.push_back("mini timer"); }
  void StartNotifyVersionTimer(int) override { calls.push_back("version timer"); }
  void ShowNotePanel(bool) override { calls.push_back("note panel"); }
  void NetworkChecked(bool) override { calls.push_back("network checked"); }
  void ShowDeviceFoundNotice(const std::string&) override { calls.push_back("notice"); }
  void StartReleaseRequestTimer(std::chrono::milliseconds) override {
    calls.push_back("release timer");
  }
  void RepaintList() override { calls.push_back("repaint"); }
  MainWindowPlacement PlacementAtClose() const override { return {}; }
  void StopTimers() override { calls.push_back("stop timers"); }
  void RemoveTrayIcon() override { calls.push_back("remove tray icon"); }
  void Closed() override { calls.push_back("closed"); }

  // What the window heard from the tray icon's removal on.
  std::vector<std::string> FromTrayRemoval() const {
    const auto at = std::find(calls.begin(), calls.end(), "remove tray icon");
    return {at, calls.end()};
  }

  std::vector<std::string> calls;
};

class ClientRuntimeTest : public HiveTest {
 protected:
  ClientRuntimeTest() {
    ::setenv("TESSARO_COMPUTERNAME", "PC-A", 1);
    fake_.SetInterfaces(InterfaceClass::Trunk, std::vector<std::string>{kTrunk});
    fake_.SetInterfaces(InterfaceClass::Spur, std::vector<std::string>{});  // never attached
    fake_.SetReply(kTrunk, busop::kAttachServer, FakeBusTransport::Success({}));
    fake_.SetReply(kTrunk, busop::kWakeEventReader, FakeBusTransport::Success({}));
    fake_.SetReply(kTrunk, busop::kGetServerList,
                   FakeBusTransport::Success(testing::ServerList({kHub})));
  }
  ~ClientRuntimeTest() override { std::fclose(trace_); }

  void StoreHub(bool enabled) {
    ServerInfoReg entry{kHub.name, kHub.ip, kHub.mac, uint8_t{enabled}, "", "", ""};
    ASSERT_TRUE(WriteServerEntry(registry_, AppRegistryKey, entry));
  }
  // The hub's Spur is listed, reporting `devices`.
  void SpurOfHub(const std::vector<testing::Dev>& devices) {
    const std::string path = "spur/" + kHub.ip;
    fake_.SetInterfaces(InterfaceClass::Spur, std::vector<std::string>{path});
    fake_.SetReply(
        path, busop::kGetSpurAddress,
        FakeBusTransport::Success(testing::AddressReply(testing::ParseBytes<4>(kHub.ip, '.', 10))));
    fake_.SetReply(path, busop::kGetDeviceList,
                   FakeBusTransport::Success(testing::DeviceList(devices)));
  }
  // The auto-connect entry of the hub's printer: its printer queue, and its fax queue unless empty.
  void StoreAutoPrinter(const std::string& queue, const std::string& faxQueue = {}) {
    AutoConnectInfo info;
    info.ServerName = kHub.name;
    info.ServerIP = kHub.ip;
    info.ServerMAC = kHub.mac;
    info.DeviceVid = "04F9";
    info.DevicePid = "0042";
    info.DeviceSNo = "LW2040-1";
    info.DeviceType = "PRINTER";
    info.PrinterEnable = 1;
    info.PrinterName = queue;
    info.FaxEnable = faxQueue.empty() ? 0 : 1;
    info.FaxPrinterName = faxQueue;
    ASSERT_TRUE(WriteDeviceEntry(registry_, AppRegistryKey, info));
  }
  void Start() {
    runtime_.AttachWindow(window_);
    StartupInputs inputs;
    inputs.workArea = {0, 0, 1024, 768};
    inputs.windowsVersionSetting = "6.1";
    ASSERT_EQ(runtime_.Start(inputs), CreateResult::Ready);
  }

  // A hang fails the case.
  testing::Watchdog watchdog_{std::chrono::seconds(30)};
  FakeBusTransport fake_;
  BlockingEventBus bus_{fake_};
  testing::FakeClock clock_;
  testing::AbsentFirewall firewall_;
  NoAdapters network_;
  testing::ScriptedUi ui_;
  MainWithUser main_;
  QuietSpooler spooler_;
  testing::RecordingShell shell_;
  LockLog lock_;
  std::FILE* trace_ = std::tmpfile();
  RecordingClientWindow window_;
  ClientRuntime runtime_{testing::TestClientPlatform(
      {registry_, bus_, clock_, firewall_, network_, ui_, &main_, main_, spooler_, shell_,
       [this](const std::string&) -> std::unique_ptr<NamedMutex> {
         return std::make_unique<LoggedMutex>(lock_);
       },
       trace_})};
};

// The close waits for the wait it was chosen in to end, and for every frame below it to
// return; then it releases everything, the refresh lock once nobody holds it, and the window
// hears nothing after its tray icon has gone.
void ExpectClosedAfterTheFrames(ClientRuntime& runtime, const LockLog& lock,
                                const RecordingClientWindow& window, const FakeBusTransport& bus) {
  EXPECT_TRUE(runtime.Closed());
  EXPECT_EQ(bus.openHandles(), 0) << "the Trunk is closed";
  EXPECT_TRUE(lock.destroyed);
  EXPECT_EQ(window.FromTrayRemoval(), (std::vector<std::string>{"remove tray icon", "closed"}));
}

// Exit chosen while a driver event's handling waits. The reader is still handing that record
// over, so it can stop only after the handling has returned.
struct EventCase {
  const char* what;
  uint8_t kind;
  bool lockHeldElsewhere;  // the wait is the refresh lock's, not the attach's
};

void PrintTo(const EventCase& c, std::ostream* os) { *os << c.what; }

class CloseInsideAnEvent : public ClientRuntimeTest,
                           public ::testing::WithParamInterface<EventCase> {};

TEST_P(CloseInsideAnEvent, EndsOnceTheHandlingHasReturned) {
  StoreHub(true);
  Start();
  lock_.heldElsewhere = GetParam().lockHeldElsewhere;
  std::optional<CloseResult> chosen;
  main_.whileWaiting = [&] { chosen = runtime_.Close(CloseReason::Exit); };
  bus_.Queue(EventOfKind(GetParam().kind));
  // The hand-over, and the teardown it leaves queued behind it.
  ASSERT_GT(main_.DrainWithin(std::chrono::seconds(10)), 0);
  EXPECT_EQ(chosen, CloseResult::Deferred);
  ExpectClosedAfterTheFrames(runtime_, lock_, window_, fake_);
}

INSTANTIATE_TEST_SUITE_P(
    Events, CloseInsideAnEvent,
    ::testing::Values(EventCase{"server list changed, in the attach wait", 2, false},
                      EventCase{"addresses changed, in the attach wait", 3, false},
                      EventCase{"server list changed, in the refresh lock wait", 2, true}),
    testing::CaseName<EventCase>);

// Exit chosen in the attach wait of a timer's refresh or a tray menu command, both holding the
// refresh lock across it.
struct EntryCase {
  const char* what;
  bool storedEnabled;
  std::function<void(ClientRuntime&)> enter;
};

void PrintTo(const EntryCase& c, std::ostream* os) { *os << c.what; }

class CloseInsideAnEntry : public ClientRuntimeTest,
                           public ::testing::WithParamInterface<EntryCase> {};

TEST_P(CloseInsideAnEntry, TearsDownOnlyAfterItReturns) {
  StoreHub(GetParam().storedEnabled);
  Start();
  if (!GetParam().storedEnabled) {
    ASSERT_TRUE(runtime_.TrunkUpdateTick());  // listed, disabled
  }
  std::optional<CloseResult> chosen;
  main_.whileWaiting = [&] { chosen = runtime_.Close(CloseReason::Exit); };
  GetParam().enter(runtime_);
  EXPECT_EQ(chosen, CloseResult::Deferred);
  EXPECT_FALSE(lock_.destroyed) << "torn down inside the entry";
  main_.Drain();
  ExpectClosedAfterTheFrames(runtime_, lock_, window_, fake_);
}

INSTANTIATE_TEST_SUITE_P(Entries, CloseInsideAnEntry,
                         ::testing::Values(EntryCase{"trunk update timer", true,
                                                     [](ClientRuntime& r) { r.TrunkUpdateTick(); }},
                                           EntryCase{"tray menu Enable", false,
                                                     [](ClientRuntime& r) {
                                                       r.ServerCommand(kHubCaption, "Enable");
                                                     }}),
                         testing::CaseName<EntryCase>);

// The user keeps a storage device that could not be stopped: the close is cancelled and leaves
// nothing of itself behind. A SessionEnding left set would make a later close box end the
// program and a later stop of the reader give up early.
TEST_F(ClientRuntimeTest, CloseTheUserCancelsLeavesNoCloseBehind) {
  testing::Dev drive;
  drive.number = 2;
  drive.type = "MASS STORAGE";
  drive.manufacturer = "Keystone";
  drive.product = "Pocket Drive 32";
  drive.owner = "PC-A";
  drive.lockKind = 2;
  drive.lockCount = 1;
  drive.vendorId = 0x2E10;
  drive.productId = 0x5567;
  StoreHub(true);
  SpurOfHub({drive});
  Start();
  ASSERT_TRUE(runtime_.TrunkUpdateTick());
  ASSERT_EQ(runtime_.Rows().rowCount(), 1u);

  for (const CloseReason reason : {CloseReason::SessionEnd, CloseReason::Exit}) {
    // No device database entry: the eject dialog asks, and the scripted user cancels.
    EXPECT_EQ(runtime_.Close(reason), CloseResult::Kept);
    EXPECT_FALSE(runtime_.State().flags.SessionEnding);
    EXPECT_FALSE(runtime_.Closing());
  }
  ASSERT_EQ(ui_.dialogs().size(), 2u);
  EXPECT_EQ(ui_.dialogs()[1].dialogId, "TEjectDeviceDlg");
  EXPECT_FALSE(runtime_.Closed());
}

// busd ends and starts again. The Trunk is given up once its reads and its server list fail:
// the server goes with its row and nothing stays open. Reopening is tried after waits that
// double up to the longest, each counted by the clock and none spent on the main thread; once
// the bus is back the enabled server is attached again, its row returns and the reader reads
// on the new Trunk.
TEST_F(ClientRuntimeTest, ReopensTheTrunkWithGrowingWaitsAfterTheBusWentAway) {
  testing::Dev printer;
  printer.number = 1;
  printer.type = "PRINTER";
  printer.manufacturer = "Inkwell";
  printer.product = "Office 200";
  StoreHub(true);
  SpurOfHub({printer});
  Start();
  ASSERT_TRUE(runtime_.TrunkUpdateTick());
  ASSERT_EQ(runtime_.Rows().rowCount(), 1u);
  const BusHandle first = runtime_.State().trunk;
  runtime_.TrunkWatchTick();  // the reader waits for an event: the Trunk is fine
  EXPECT_FALSE(runtime_.TrunkLost());

  bus_.SetAway(true);
  bus_.WaitForFailedReads(2);
  runtime_.TrunkWatchTick();
  ASSERT_TRUE(runtime_.TrunkLost());
  EXPECT_EQ(runtime_.State().trunk, kInvalidBusHandle);
  EXPECT_EQ(runtime_.Rows().rowCount(), 0u);
  EXPECT_TRUE(runtime_.Rows().servers().empty());
  EXPECT_EQ(fake_.openHandles(), 0) << "the old Trunk and Spur are closed";

  using std::chrono::milliseconds;
  std::vector<milliseconds> waits;
  auto last = clock_.Now();
  const auto sleptBefore = clock_.slept();
  for (int tick = 0; tick < 200; ++tick) {  // 100 s of the watch timer
    clock_.Advance(kTrunkWatchInterval);
    const int before = bus_.trunkListings();
    runtime_.TrunkWatchTick();
    if (bus_.trunkListings() == before) continue;
    waits.push_back(std::chrono::duration_cast<milliseconds>(clock_.Now() - last));
    last = clock_.Now();
  }
  EXPECT_EQ(waits,
            (std::vector<milliseconds>{milliseconds(1000), milliseconds(2000), milliseconds(4000),
                                       milliseconds(8000), milliseconds(16000), milliseconds(30000),
                                       milliseconds(30000)}));
  EXPECT_EQ(clock_.slept(), sleptBefore) << "a wait was slept on the main thread";
  ASSERT_TRUE(runtime_.TrunkLost());

  bus_.SetAway(false);
  const size_t attaches = fake_.requestsFor(busop::kAttachServer).size();
  for (int tick = 0; tick < 80 && runtime_.TrunkLost(); ++tick) {
    clock_.Advance(kTrunkWatchInterval);
    runtime_.TrunkWatchTick();
  }
  ASSERT_FALSE(runtime_.TrunkLost());
  const BusHandle reopened = runtime_.State().trunk;
  EXPECT_NE(reopened, kInvalidBusHandle);
  EXPECT_NE(reopened, first);
  EXPECT_EQ(fake_.requestsFor(busop::kAttachServer).size(), attaches + 1);
  ASSERT_EQ(runtime_.Rows().rowCount(), 1u);
  EXPECT_EQ(runtime_.Rows().row(0).product, "Office 200");
  bus_.WaitForReadOn(reopened);
}

// The timer's delayed refresh starts one monitor per auto-connect entry; showing the window
// again (another delayed refresh) keeps them. The close stops them, and each leaves its queue
// parked, as this PC does not use the device.
TEST_F(ClientRuntimeTest, TheDelayedRefreshStartsTheMonitorsAndTheCloseStopsThem) {
  StoreHub(true);
  StoreAutoPrinter("laser", "fax");
  Start();
  ASSERT_EQ(runtime_.State().autoPrinters.size(), 1u);
  ASSERT_EQ(runtime_.State().autoFaxes.size(), 1u);
  const AutoLinkPrinter& printer = *runtime_.State().autoPrinters[0];
  const AutoLinkPrinter& fax = *runtime_.State().autoFaxes[0];
  ASSERT_NE(runtime_.Monitors(), nullptr);
  EXPECT_EQ(runtime_.Monitors()->MonitorOf(printer), nullptr) << "started before the refresh";

  ASSERT_TRUE(runtime_.TrunkUpdateTick());
  TPrintThread* printerMonitor = runtime_.Monitors()->MonitorOf(printer);
  TPrintThread* faxMonitor = runtime_.Monitors()->MonitorOf(fax);
  ASSERT_NE(printerMonitor, nullptr);
  ASSERT_NE(faxMonitor, nullptr);
  EXPECT_EQ(printer.Thread, printerMonitor);
  // The monitors look the device up on the main thread.
  ASSERT_TRUE(testing::Eventually([&] { return main_.Drain() > 0; }));

  clock_.Advance(std::chrono::seconds(5));
  ASSERT_TRUE(runtime_.TrunkUpdateTick());
  EXPECT_EQ(runtime_.Monitors()->MonitorOf(printer), printerMonitor);
  EXPECT_EQ(runtime_.Monitors()->MonitorOf(fax), faxMonitor);

  EXPECT_EQ(runtime_.Close(CloseReason::Exit), CloseResult::Closed);
  const auto holds = spooler_.holds();
  EXPECT_NE(std::find(holds.begin(), holds.end(), "laser parked"), holds.end());
  EXPECT_NE(std::find(holds.begin(), holds.end(), "fax parked"), holds.end());
  EXPECT_EQ(runtime_.Monitors(), nullptr);  // the entries went with the lists
}

// A job on the queue of an auto-connect printer: the monitor finds the device through the
// client's own lists (refreshing its server's rows on the main thread), links it, sees this PC
// become its user in a later refresh, locks it and releases the queue.
TEST_F(ClientRuntimeTest, AWaitingJobLinksAndLocksTheDeviceThroughTheClientsLists) {
  testing::Dev printer;
  printer.number = 1;
  printer.type = "PRINTER";
  printer.vendorId = 0x04F9;
  printer.productId = 0x0042;
  printer.serial = "LW2040-1";
  testing::Dev linked = printer;
  linked.owner = "PC-A";
  StoreHub(true);
  SpurOfHub({printer});
  fake_.SetReplies("spur/" + kHub.ip, busop::kGetDeviceList,
                   {FakeBusTransport::Success(testing::DeviceList({printer})),
                    FakeBusTransport::Success(testing::DeviceList({linked}))});
  fake_.SetReply("spur/" + kHub.ip, busop::kLinkDevice, FakeBusTransport::Success({}));
  fake_.SetReply("spur/" + kHub.ip, busop::kLockDevice, FakeBusTransport::Success({}));
  StoreAutoPrinter("laser");
  spooler_.waitingJob = true;
  Start();
  ASSERT_TRUE(runtime_.TrunkUpdateTick());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (fake_.requestsFor(busop::kLockDevice).empty() &&
         std::chrono::steady_clock::now() < deadline)
    main_.DrainWithin(std::chrono::milliseconds(50));
  EXPECT_EQ(fake_.requestsFor(busop::kLinkDevice).size(), 1u);
  EXPECT_EQ(fake_.requestsFor(busop::kLockDevice).size(), 1u);
  ASSERT_EQ(runtime_.Rows().rowCount(), 1u);
  EXPECT_EQ(runtime_.Rows().row(0).owner, "PC-A");
  // The lock is followed by the release: wait for it before looking.
  ASSERT_TRUE(testing::Eventually([&] {
    main_.Drain();
    const auto holds = spooler_.holds();
    return std::count(holds.begin(), holds.end(), "laser released") >= 2;
  }));
  const auto holds = spooler_.holds();
  const auto parked = std::find(holds.begin(), holds.end(), "laser parked");
  ASSERT_NE(parked, holds.end());
  EXPECT_EQ(std::vector<std::string>(parked, parked + 3),
            (std::vector<std::string>{"laser parked", "laser released", "laser released"}));
  spooler_.waitingJob = false;
  EXPECT_EQ(runtime_.Close(CloseReason::Exit), CloseResult::Closed);
}

// When the session ends no monitor parks its queue.
TEST_F(ClientRuntimeTest, AClosingSessionLeavesTheQueuesAsTheyAre) {
  StoreHub(true);
  StoreAutoPrinter("laser");
  Start();
  ASSERT_TRUE(runtime_.TrunkUpdateTick());
  ASSERT_TRUE(testing::Eventually([&] { return main_.Drain() > 0; }));
  EXPECT_EQ(runtime_.Close(CloseReason::SessionEnd), CloseResult::Closed);
  main_.Drain();
  const auto holds = spooler_.holds();
  EXPECT_EQ(std::find(holds.begin(), holds.end(), "laser parked"), holds.end());
}

}  // namespace
}  // namespace tessaro
