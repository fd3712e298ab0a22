// SPDX-License-Identifier: GPL-2.0-or-later
// The device and server commands over a scripted bus: the requests they send (lock kinds and
// times, what is sent at all), the messages and the eject dialog, the print queues they hold and
// release, the rows and stored entries of the server commands, and what happens when the rows
// change while a dialog is open.
#include <thread>

#include "base/ByteOrder.h"
#include "devices/DeviceOperations.h"
#include "tests/support/OperationFakes.h"
#include "tests/support/RefreshFixture.h"

using namespace tessaro;
using namespace tessaro::testing;

namespace {

const Hub kHub{"192.168.1.20", "Office", "00:1C:F0:AA:0B:01", 1, 1};
const Hub kLab{"192.168.1.21", "Lab", "00:1C:F0:AA:0B:02", 1, 1};
const std::string kHubName = "Office - 192.168.1.20";

const Dev kPrinter{.number = 1};
const Dev kStorage{.number = 2,
                   .type = "MASS STORAGE",
                   .manufacturer = "Keystone",
                   .product = "Drive 32",
                   .vendorId = 0x2E10,
                   .productId = 0x5567,
                   .serial = "KS1"};
const std::string kStorageKey = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_2e10&Pid_5567\\KS1";
const std::string kStorageDialogText =
    "The device Keystone - Drive 32 is busy, please click \"Cancel\" to continue, or click "
    "\"Disconnect\" to hard stop the device.";

Dev With(Dev d, std::function<void(Dev&)> change) {
  change(d);
  return d;
}
Dev HeldBy(Dev d, const std::string& owner, uint8_t kind = 2) {
  d.owner = owner;
  d.lockKind = kind;
  d.lockCount = 1;
  return d;
}

// The bytes of a lock or unlock request: device number, seconds (little-endian), kind.
Bytes LockRequest(uint8_t number, uint32_t seconds, uint8_t kind) {
  Bytes b(6, 0);
  b[0] = number;
  PutU32(&b[1], seconds);
  b[5] = kind;
  return b;
}

Bytes EjectReply(uint32_t vetoType, const std::string& name) {
  Bytes b(4, 0);
  PutU32(b.data(), vetoType);
  b.insert(b.end(), name.begin(), name.end());
  b.push_back(0);
  return b;
}

class OperationsTest : public RefreshTest {
 protected:
  // An enabled server listed (with those listed before) and its devices, whose Spur answers
  // every device request.
  void List(const Hub& h, const std::vector<Dev>& devs) {
    Store(h, true);
    SpurAppears(h.ip, devs);
    if (std::none_of(reported_.begin(), reported_.end(),
                     [&](const Hub& r) { return r.ip == h.ip; }))
      reported_.push_back(h);
    Report(reported_);
    ASSERT_TRUE(cycle.RefreshServers());
    cycle.RefreshDevices(model.FindServer(h.name, h.ip));
    Answer(h.ip, busop::kLinkDevice, true);
    Answer(h.ip, busop::kUnlinkDevice, true);
    Answer(h.ip, busop::kLockDevice, true);
    Answer(h.ip, busop::kUnlockDevice, true);
    Answer(h.ip, busop::kRequestToUse, true);
  }
  void Answer(const std::string& ip, uint32_t code, bool ok) {
    bus.SetReply("spur/" + ip, code,
                 ok ? FakeBusTransport::Success({}) : FakeBusTransport::Fail(buserr::kGenFailure));
  }
  // The storage device as the device database and plug and play see it.
  void StorageRecorded() {
    RegKey key;
    ASSERT_EQ(
        registry.OpenKey(RegRoot::LocalMachine, kStorageKey, regaccess::kAllAccess, true, key),
        regerr::kSuccess);
  }
  void StoragePresent(bool present) {
    bus.SetReply(
        kTrunk, busop::kDeviceNodePresent,
        present ? FakeBusTransport::Success({}) : FakeBusTransport::Fail(buserr::kNotFound));
  }
  void StorageVeto(std::optional<uint32_t> vetoType) {
    bus.SetReply(
        kTrunk, busop::kRequestEject,
        vetoType ? FakeBusTransport::Success(EjectReply(*vetoType, *vetoType ? "Open files" : ""))
                 : FakeBusTransport::Fail(buserr::kGenFailure));
  }
  void AutoPrinter(const std::string& mac, const std::string& serial, const std::string& name) {
    Hub hub = kHub;
    hub.mac = mac;
    printers.push_back(AutoLinkPrinter::For(KeyOf(hub, Dev{.serial = serial}), name, ""));
  }
  size_t RowIndex(const std::string& ip, const std::string& number) const {
    for (size_t i = 0; i < model.rowCount(); ++i)
      if (model.row(i).serverIp == ip && model.row(i).deviceNumber == number) return i;
    ADD_FAILURE() << "no row " << ip << " #" << number;
    return model.rowCount();
  }
  // "path code input-bytes" of every device request, in order.
  std::vector<std::string> DeviceRequests() const {
    std::vector<std::string> out;
    for (const auto& r : bus.requests()) {
      std::string name;
      switch (r.code) {
        case busop::kLinkDevice: name = "link"; break;
        case busop::kUnlinkDevice: name = "unlink"; break;
        case busop::kLockDevice: name = "lock"; break;
        case busop::kUnlockDevice: name = "unlock"; break;
        case busop::kRequestToUse: name = "request"; break;
        default: continue;
      }
      std::string bytes;
      for (uint8_t b : r.input) bytes += " " + std::to_string(b);
      out.push_back(r.path + " " + name + bytes);
    }
    return out;
  }
  std::vector<std::string> MessageTexts() const {
    std::vector<std::string> out;
    for (const auto& m : ui.messages()) out.push_back(m.text);
    return out;
  }

  PlugAndPlay pnp{bus, clock};
  OperationUi ui{state.flags};
  RecordingSpooler spooler{state.flags};
  RecordingShell shell;
  DeviceOperations ops{{bus, clock, main, refreshLock, registry, registry, pnp, ui, spooler, shell},
                       state,
                       model,
                       cycle};

 private:
  std::vector<Hub> reported_;
};

std::string Link(const Hub& h, uint8_t n) { return "spur/" + h.ip + " link " + std::to_string(n); }
std::string Unlink(const Hub& h, uint8_t n) {
  return "spur/" + h.ip + " unlink " + std::to_string(n);
}
std::string Lock(const Hub& h, uint8_t n, uint32_t seconds, uint8_t kind,
                 const char* verb = "lock") {
  std::string s = "spur/" + h.ip + " " + verb;
  for (uint8_t b : LockRequest(n, seconds, kind)) s += " " + std::to_string(b);
  return s;
}

// ---- Connect ----

struct ConnectCase {
  const char* what;
  Dev device;
  uint8_t storageMode;
  std::vector<std::string> requests;  // filled in by the case for kHub
  std::vector<std::string> messages;
};
void PrintTo(const ConnectCase& c, std::ostream* os) { *os << c.what; }

class ConnectByType : public OperationsTest, public ::testing::WithParamInterface<ConnectCase> {};

TEST_P(ConnectByType, LinksAndLocksForThisPc) {
  const ConnectCase& c = GetParam();
  Hub hub = kHub;
  hub.storageMode = c.storageMode;
  List(hub, {c.device});
  ops.Connect(0);
  EXPECT_EQ(DeviceRequests(), c.requests);
  EXPECT_EQ(MessageTexts(), c.messages);
  EXPECT_FALSE(state.flags.OperationBusy);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConnectByType,
    ::testing::Values(ConnectCase{"a printer is locked for an hour",
                                  kPrinter,
                                  1,
                                  {Link(kHub, 1), Lock(kHub, 1, 3600, 2)},
                                  {}},
                      ConnectCase{"an MFP is locked for an hour",
                                  With(kPrinter,
                                       [](Dev& d) {
                                         d.type = "MFP";
                                         d.number = 7;
                                       }),
                                  1,
                                  {Link(kHub, 7), Lock(kHub, 7, 3600, 2)},
                                  {}},
                      ConnectCase{"a scanner is locked for an hour",
                                  With(kPrinter, [](Dev& d) { d.type = "SCANNER"; }),
                                  1,
                                  {Link(kHub, 1), Lock(kHub, 1, 3600, 2)},
                                  {}},
                      ConnectCase{"an unknown device is locked for an hour",
                                  With(kPrinter, [](Dev& d) { d.type = "Camera"; }),
                                  1,
                                  {Link(kHub, 1), Lock(kHub, 1, 3600, 2)},
                                  {}},
                      ConnectCase{"a storage device is locked for 72 hours",
                                  kStorage,
                                  1,
                                  {Link(kHub, 2), Lock(kHub, 2, 259200, 2)},
                                  {}},
                      ConnectCase{"a storage device reported in lower case likewise",
                                  With(kStorage, [](Dev& d) { d.type = "mass storage"; }),
                                  1,
                                  {Link(kHub, 2), Lock(kHub, 2, 259200, 2)},
                                  {}},
                      ConnectCase{"any storage mode but 0 is USB-over-network mode",
                                  kStorage,
                                  2,
                                  {Link(kHub, 2), Lock(kHub, 2, 259200, 2)},
                                  {}},
                      ConnectCase{
                          "a storage device of a server in server mode: nothing is sent",
                          kStorage,
                          0,
                          {},
                          {"Can not connect because the storage access mode is currently in Server "
                           "mode, not Remotix mode."}},
                      ConnectCase{"the storage mode does not concern a printer",
                                  kPrinter,
                                  0,
                                  {Link(kHub, 1), Lock(kHub, 1, 3600, 2)},
                                  {}}),
    CaseName<ConnectCase>);

TEST_F(OperationsTest, ConnectFailuresAreReportedAfterTheCommandEnds) {
  List(kHub, {kPrinter});
  AutoPrinter(kHub.mac, "LW2040-1", "Office Laser");
  const struct {
    const char* what;
    bool linkOk;
    bool lockOk;
    std::vector<std::string> requests;
    std::string message;
  } cases[] = {
      {"link refused: no lock is tried", false, true, {Link(kHub, 1)}, "Connect device failed !"},
      {"lock refused: the device stays linked",
       true,
       false,
       {Link(kHub, 1), Lock(kHub, 1, 3600, 2)},
       "Connect device failed !!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Answer(kHub.ip, busop::kLinkDevice, c.linkOk);
    Answer(kHub.ip, busop::kLockDevice, c.lockOk);
    const size_t sentBefore = DeviceRequests().size();
    const size_t shown = ui.messages().size();
    ops.Connect(0);
    const auto sent = DeviceRequests();
    EXPECT_EQ(std::vector<std::string>(sent.begin() + static_cast<long>(sentBefore), sent.end()),
              c.requests);
    ASSERT_EQ(ui.messages().size(), shown + 1);
    const MessageRequest m = ui.messages().back();
    EXPECT_EQ(m.text, c.message);
    EXPECT_EQ(m.caption, "Tessaro Utility");
    EXPECT_EQ(m.flags, 0u) << "an OK button and no icon";
    EXPECT_TRUE(m.ownedByMainWindow);
    EXPECT_FALSE(ui.busyDuringMessage.back()) << "the rows may follow while the box is open";
    EXPECT_TRUE(spooler.holds.empty()) << "the queue stays held";
  }
}

// ---- Disconnect ----

TEST_F(OperationsTest, DisconnectUnlocksThenUnlinks) {
  List(kHub, {HeldBy(kPrinter, "PC-A")});
  Answer(kHub.ip, busop::kUnlockDevice, false);  // its answer does not matter
  ops.Disconnect(0);
  EXPECT_EQ(DeviceRequests(),
            (std::vector<std::string>{Lock(kHub, 1, 0, 2, "unlock"), Unlink(kHub, 1)}));
  EXPECT_TRUE(ui.messages().empty());

  Answer(kHub.ip, busop::kUnlinkDevice, false);
  ops.Disconnect(0);
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Disconnect device failed !"});
  EXPECT_EQ(ui.messages().back().caption, "Tessaro Utility");
  EXPECT_FALSE(ui.busyDuringMessage.back());
  EXPECT_FALSE(state.flags.OperationBusy);
}

TEST_F(OperationsTest, DisconnectingStorageEjectsItFirstAndAsksWhenThatIsRefused) {
  const struct {
    const char* what;
    bool recorded;                 // the device database has its key
    bool present;                  // its device node is present
    std::optional<uint32_t> veto;  // the eject's answer; none: the request failed
    int answer;                    // the dialog's, when it is shown
    bool asked;
    bool released;
  } cases[] = {
      {"prepared for removal", true, true, 0, answer::kCancel, false, true},
      {"no longer present: released without asking", true, false, 0, answer::kCancel, false, true},
      {"vetoed, the user cancels", true, true, 5, answer::kCancel, true, false},
      {"vetoed, the user disconnects anyway", true, true, 5, answer::kOk, true, true},
      {"the eject got no answer", true, true, std::nullopt, answer::kCancel, true, false},
      {"not in the device database", false, true, 0, answer::kOk, true, true},
  };
  List(kHub, {HeldBy(kStorage, "PC-A")});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir hives;
    SqliteRegistry database{HivePaths{hives / "user.hive", hives / "machine.hive"}};
    if (c.recorded) {
      RegKey key;
      ASSERT_EQ(
          database.OpenKey(RegRoot::LocalMachine, kStorageKey, regaccess::kAllAccess, true, key),
          regerr::kSuccess);
    }
    StoragePresent(c.present);
    StorageVeto(c.veto);
    OperationUi asking{state.flags};
    asking.QueueAnswer(c.answer);
    DeviceOperations commands{
        {bus, clock, main, refreshLock, registry, database, pnp, asking, spooler, shell},
        state,
        model,
        cycle};
    const size_t sentBefore = DeviceRequests().size();
    commands.Disconnect(0);
    ASSERT_EQ(asking.dialogs().size(), c.asked ? 1u : 0u);
    if (c.asked) {
      EXPECT_EQ(asking.dialogs()[0].dialogId, "TEjectDeviceDlg");
      EXPECT_EQ(asking.dialogs()[0].text, kStorageDialogText);
      EXPECT_FALSE(asking.busyDuringDialog[0]);
    }
    const std::vector<std::string> released{Lock(kHub, 2, 0, 2, "unlock"), Unlink(kHub, 2)};
    const auto sent = DeviceRequests();
    EXPECT_EQ(std::vector<std::string>(sent.begin() + static_cast<long>(sentBefore), sent.end()),
              c.released ? released : std::vector<std::string>{});
    EXPECT_TRUE(asking.messages().empty());
  }
}

TEST_F(OperationsTest, DisconnectWorksOnTheRowAsItWasWhenChosen) {
  // While the eject dialog is open a refresh lists a device that sorts first and changes the
  // storage row's owner: the command still releases the device it was started on.
  List(kHub, {HeldBy(kStorage, "PC-A")});
  StorageRecorded();
  StoragePresent(true);
  StorageVeto(5);
  ui.whileDialogOpen = [&] {
    Devices(kHub.ip, {With(kStorage,
                           [](Dev& d) {
                             d.number = 9;
                             d.manufacturer = "Aardvark";
                           }),
                      HeldBy(kStorage, "PC-B")});
    cycle.RefreshDevices(model.servers()[0].get());
  };
  ui.QueueAnswer(answer::kOk);
  const size_t storageRow = RowIndex(kHub.ip, "2");
  ops.Disconnect(storageRow);
  ASSERT_EQ(model.rowCount(), 2u);
  EXPECT_EQ(model.row(0).deviceNumber, "9") << "the indexes moved";
  EXPECT_EQ(DeviceRequests(),
            (std::vector<std::string>{Lock(kHub, 2, 0, 2, "unlock"), Unlink(kHub, 2)}));
}

// ---- Print queues of auto-connect printers ----

TEST_F(OperationsTest, ManualConnectReleasesAndDisconnectParksTheAutoConnectQueue) {
  using H = RecordingSpooler::Hold;
  struct Entry {
    std::string mac, serial, printer;
  };
  const struct {
    const char* what;
    Dev device;
    std::vector<Entry> entries;
    bool linkOk;
    bool unlinkOk;
    std::vector<H> holds;  // after Connect, then Disconnect
  } cases[] = {
      {"a bound printer",
       kPrinter,
       {{kHub.mac, "LW2040-1", "Office Laser"}},
       true,
       true,
       {{"Office Laser", QueueHold::Released, true}, {"Office Laser", QueueHold::Parked, true}}},
      {"a bound MFP",
       With(kPrinter, [](Dev& d) { d.type = "mfp"; }),
       {{kHub.mac, "LW2040-1", "Duo"}},
       true,
       true,
       {{"Duo", QueueHold::Released, true}, {"Duo", QueueHold::Parked, true}}},
      {"the first entry of this server's device",
       kPrinter,
       {{kLab.mac, "LW2040-1", "Lab Laser"},
        {kHub.mac, "LW2040-1", "Office Laser"},
        {kHub.mac, "LW2040-1", "Office Laser 2"}},
       true,
       true,
       {{"Office Laser", QueueHold::Released, true}, {"Office Laser", QueueHold::Parked, true}}},
      {"no entry for this serial",
       kPrinter,
       {{kHub.mac, "LW2040-2", "Office Laser"}},
       true,
       true,
       {}},
      {"no entries at all", kPrinter, {}, true, true, {}},
      {"a scanner is not a printer",
       With(kPrinter, [](Dev& d) { d.type = "SCANNER"; }),
       {{kHub.mac, "LW2040-1", "Office Laser"}},
       true,
       true,
       {}},
      {"neither a failed link nor a failed unlink",
       kPrinter,
       {{kHub.mac, "LW2040-1", "Office Laser"}},
       false,
       false,
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    printers.clear();
    spooler.holds.clear();
    for (const auto& e : c.entries) AutoPrinter(e.mac, e.serial, e.printer);
    List(kHub, {c.device});
    Answer(kHub.ip, busop::kLinkDevice, c.linkOk);
    Answer(kHub.ip, busop::kUnlinkDevice, c.unlinkOk);
    ops.Connect(0);
    ops.Disconnect(0);
    EXPECT_EQ(spooler.holds, c.holds);
  }
}

// ---- Request To Use ----

TEST_F(OperationsTest, RequestToUseAsksTheHolderAndShowsNothing) {
  List(kHub, {HeldBy(kPrinter, "PC-B"), HeldBy(kStorage, "PC-B")});
  ops.RequestToUse(RowIndex(kHub.ip, "2"));
  Answer(kHub.ip, busop::kRequestToUse, false);
  ops.RequestToUse(RowIndex(kHub.ip, "1"));
  EXPECT_EQ(DeviceRequests(),
            (std::vector<std::string>{"spur/" + kHub.ip + " request 2 1 0 0 0 0",
                                      "spur/" + kHub.ip + " request 1 1 0 0 0 0"}))
      << "kind 1, no address";
  EXPECT_TRUE(ui.messages().empty());
  EXPECT_FALSE(state.flags.OperationBusy);
}

TEST_F(OperationsTest, RowsWithoutASpurOrPastTheEndSendNothing) {
  List(kHub, {kPrinter});
  auto orphan = std::make_unique<DeviceData>(model.row(0));
  orphan->handle = kInvalidBusHandle;
  orphan->deviceNumber = "4";
  model.AppendRow(std::move(orphan));
  const size_t past = model.rowCount();
  for (size_t row : {size_t{1}, past, past + 100}) {
    ops.Connect(row);
    ops.Disconnect(row);
    ops.RequestToUse(row);
  }
  EXPECT_TRUE(DeviceRequests().empty());
  EXPECT_TRUE(ui.messages().empty());
}

// ---- Release of every device at close ----

TEST_F(OperationsTest, DisconnectAllOwnedUnlinksThisPcsDevicesUnlessTheUserKeepsOne) {
  const Dev mine = HeldBy(kPrinter, "PC-A");
  const Dev automatic = HeldBy(With(kPrinter, [](Dev& d) { d.number = 3; }), "PC-A", 1);
  const Dev theirs = HeldBy(With(kPrinter, [](Dev& d) { d.number = 4; }), "PC-B");
  const Dev free = With(kPrinter, [](Dev& d) { d.number = 5; });
  const Dev otherCase = HeldBy(With(kPrinter, [](Dev& d) { d.number = 6; }), "pc-a");
  List(kLab, {mine});
  List(kHub, {mine, HeldBy(kStorage, "PC-A"), automatic, theirs, free, otherCase});
  StorageRecorded();
  StoragePresent(true);
  StorageVeto(5);

  ui.QueueAnswer(answer::kCancel);
  EXPECT_FALSE(ops.DisconnectAllOwned());
  ASSERT_EQ(ui.dialogs().size(), 1u);
  EXPECT_EQ(ui.dialogs()[0].text, kStorageDialogText);
  EXPECT_TRUE(ui.busyDuringDialog[0]) << "device-list events stay dropped while it asks";
  EXPECT_FALSE(state.flags.OperationBusy);
  auto sent = DeviceRequests();
  std::sort(sent.begin(), sent.end());
  EXPECT_EQ(sent, (std::vector<std::string>{Unlink(kHub, 1), Unlink(kHub, 3), Unlink(kLab, 1)}))
      << "no unlock first; not the kept storage device, nor other PCs' or free devices";

  ui.QueueAnswer(answer::kOk);
  EXPECT_TRUE(ops.DisconnectAllOwned());
  EXPECT_EQ(DeviceRequests().size(), 3u + 4u);
  EXPECT_EQ(bus.requestsFor(busop::kUnlockDevice).size(), 0u);
  EXPECT_TRUE(ui.messages().empty()) << "a failed release shows nothing";
}

TEST_F(OperationsTest, DisconnectAllOwnedWithNothingHeld) {
  List(kHub, {HeldBy(kPrinter, "PC-B")});
  EXPECT_TRUE(ops.DisconnectAllOwned());
  EXPECT_TRUE(DeviceRequests().empty());
}

// ---- Enable and Disable ----

TEST_F(OperationsTest, EnableAttachesADisabledServerAndListsItsDevices) {
  Store(kHub, false);
  Report({kHub});
  ASSERT_TRUE(cycle.RefreshServers());
  ASSERT_EQ(Servers(), std::vector<std::string>{"Office 192.168.1.20 disabled"});
  SpurAppears(kHub.ip, {kPrinter, kStorage});

  ops.EnableServer("Office - 192.168.1.21");  // no such server
  EXPECT_EQ(Requests(busop::kAttachServer), 0u);

  ops.EnableServer(kHubName);
  EXPECT_EQ(Requests(busop::kAttachServer), 1u);
  EXPECT_EQ(Servers(), std::vector<std::string>{"Office 192.168.1.20 enabled spur"});
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Keystone - Drive 32", "Lumen - Laser 2040"}));
  EXPECT_EQ(StoredEnable(kHub), true);
  EXPECT_EQ(bus.openHandles(), 2) << "the Trunk and one Spur";
}

TEST_F(OperationsTest, EnableDropsAServerThatCannotBeAttached) {
  Store(kHub, false);
  Store(kLab, false);
  Report({kHub, kLab});
  ASSERT_TRUE(cycle.RefreshServers());
  ops.EnableServer(kHubName);
  EXPECT_EQ(Servers(), std::vector<std::string>{"Lab 192.168.1.21 disabled"})
      << "met again as new at the next server refresh";
  EXPECT_EQ(StoredEnable(kHub), false);
  EXPECT_EQ(model.rowCount(), 0u);
  ASSERT_TRUE(cycle.RefreshServers());
  EXPECT_EQ(Servers().size(), 2u);
}

TEST_F(OperationsTest, DisableReleasesThisPcsDevicesAndRemovesTheServersRows) {
  List(kLab, {HeldBy(kPrinter, "PC-A")});
  List(kHub, {HeldBy(kPrinter, "PC-A"), kStorage,
              HeldBy(With(kPrinter, [](Dev& d) { d.number = 4; }), "PC-B")});
  ops.DisableServer(kHubName);
  EXPECT_EQ(DeviceRequests(), std::vector<std::string>{Unlink(kHub, 1)});
  EXPECT_EQ(Servers(), (std::vector<std::string>{"Lab 192.168.1.21 enabled spur",
                                                 "Office 192.168.1.20 disabled spur"}))
      << "its Spur stays open";
  EXPECT_EQ(model.rowCount(), 1u);
  EXPECT_EQ(model.row(0).serverIp, kLab.ip);
  EXPECT_EQ(StoredEnable(kHub), false);
  EXPECT_EQ(StoredEnable(kLab), true);
  EXPECT_FALSE(state.flags.OperationBusy);

  // Enabled again, it is listed on the Spur that stayed open.
  ops.EnableServer(kHubName);
  EXPECT_EQ(Requests(busop::kAttachServer), 2u) << "only the two first attaches";
  EXPECT_EQ(model.rowCount(), 4u);
  EXPECT_EQ(StoredEnable(kHub), true);
}

TEST_F(OperationsTest, DisableKeepsTheServerWhenTheUserKeepsAStorageDevice) {
  List(kHub, {HeldBy(kPrinter, "PC-A"), HeldBy(kStorage, "PC-A")});
  StorageRecorded();
  StoragePresent(true);
  StorageVeto(5);
  ui.QueueAnswer(answer::kCancel);
  ops.DisableServer(kHubName);
  EXPECT_EQ(ui.dialogs().size(), 1u);
  EXPECT_TRUE(ui.busyDuringDialog[0]);
  EXPECT_EQ(DeviceRequests(), std::vector<std::string>{Unlink(kHub, 1)})
      << "the other device was released all the same";
  EXPECT_EQ(Servers(), std::vector<std::string>{"Office 192.168.1.20 enabled spur"});
  EXPECT_EQ(StoredEnable(kHub), true);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Keystone - Drive 32", "Lumen - Laser 2040"}))
      << "listed again by a device refresh";
}

TEST_F(OperationsTest, DisableWhileTheServerVanishesBehindTheDialog) {
  List(kHub, {HeldBy(kStorage, "PC-A")});
  StorageRecorded();
  StoragePresent(true);
  StorageVeto(5);
  ui.whileDialogOpen = [&] {
    Report({});
    cycle.RefreshServers();
  };
  ui.QueueAnswer(answer::kOk);
  ops.DisableServer(kHubName);
  EXPECT_EQ(bus.openHandles(), 1) << "only the Trunk: the server's Spur was closed";
  EXPECT_TRUE(DeviceRequests().empty()) << "nothing reaches a closed Spur";
  EXPECT_TRUE(model.servers().empty());
  EXPECT_EQ(model.rowCount(), 0u);
  EXPECT_EQ(StoredEnable(kHub), false) << "the user's choice is kept";
}

// ---- Configuration... ----

TEST_F(OperationsTest, ConfigurationOpensOnlyADottedIpv4Address) {
  const struct {
    std::string ip;
    std::optional<std::string> url;
  } cases[] = {
      {"192.168.1.20", "http://192.168.1.20/"},
      {"10.0.0.1", "http://10.0.0.1/"},
      {"0.0.0.0", "http://0.0.0.0/"},
      {"255.255.255.255", "http://255.255.255.255/"},
      {"", std::nullopt},
      {"256.1.1.1", std::nullopt},
      {"1.2.3", std::nullopt},
      {"1.2.3.4.5", std::nullopt},
      {"1..3.4", std::nullopt},
      {"1.2.3.", std::nullopt},
      {"01.2.3.4", std::nullopt},
      {"1.2.3.0004", std::nullopt},
      {"1234.1.1.1", std::nullopt},
      {" 1.2.3.4", std::nullopt},
      {"1.2.3.4 ", std::nullopt},
      {"+1.2.3.4", std::nullopt},
      {"1.2.3.4:8080", std::nullopt},
      {"1.2.3.4/admin", std::nullopt},
      {"1.2.3.4@evil.example", std::nullopt},
      {std::string("1.2.3.4\0.evil", 13), std::nullopt},
      {"0x7f.0.0.1", std::nullopt},
      {"hub.example", std::nullopt},
      {"\"1.2.3.4\" & calc", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ip);
    EXPECT_EQ(ServerConfigurationUrl(c.ip), c.url);
    shell.opened.clear();
    auto record = std::make_unique<ServerData>();
    record->name = "Hub";
    record->ip = c.ip;
    record->displayName = "Hub - " + c.ip;
    const ServerData& added = model.AddServer(std::move(record));
    ops.OpenServerConfiguration("Hub - " + c.ip);
    EXPECT_EQ(shell.opened, c.url ? std::vector<std::string>{*c.url} : std::vector<std::string>{});
    model.RemoveServer(&added);
  }
  ops.OpenServerConfiguration("Nobody - 1.2.3.4");
  EXPECT_TRUE(shell.opened.empty());
}

// ---- RefreshLock ----

TEST_F(OperationsTest, ServerCommandsHoldRefreshLock) {
  // Another process's view of the mutex: a second handle used from another thread.
  FileNamedMutex other{kRefreshLockMutexName, dir.path()};
  const auto takenElsewhere = [&] {
    bool got = false;
    std::thread([&] {
      got = other.TryLock();
      if (got) other.Unlock();
    }).join();
    return !got;
  };

  Store(kHub, false);
  Report({kHub});
  ASSERT_TRUE(cycle.RefreshServers());
  SpurAppears(kHub.ip, {HeldBy(kStorage, "PC-A")});
  std::vector<bool> heldDuringAttach;
  clock.OnSleep([&](auto) { heldDuringAttach.push_back(takenElsewhere()); });
  ops.EnableServer(kHubName);
  clock.OnSleep(nullptr);
  ASSERT_FALSE(heldDuringAttach.empty());
  EXPECT_EQ(std::count(heldDuringAttach.begin(), heldDuringAttach.end(), false), 0);
  EXPECT_FALSE(takenElsewhere()) << "released afterwards";

  StorageRecorded();
  StoragePresent(true);
  StorageVeto(5);
  bool heldDuringDialog = false;
  ui.whileDialogOpen = [&] { heldDuringDialog = takenElsewhere(); };
  ops.DisableServer(kHubName);
  EXPECT_TRUE(heldDuringDialog);

  bool heldWhileOpening = true;
  shell.onOpen = [&] { heldWhileOpening = takenElsewhere(); };
  ops.OpenServerConfiguration(kHubName);
  EXPECT_FALSE(heldWhileOpening) << "the browser is started after the lock is released";
  EXPECT_EQ(shell.opened, std::vector<std::string>{"http://192.168.1.20/"});

  // Held elsewhere: the command waits 31 polls of 200 ms, keeping events running, then goes on.
  std::thread([&] { ASSERT_TRUE(other.TryLock()); }).join();
  const auto sleepsBefore = clock.sleeps().size();
  const int pumpsBefore = main.pumpCount();
  ops.OpenServerConfiguration(kHubName);
  EXPECT_EQ(clock.sleeps().size() - sleepsBefore, 31u);
  EXPECT_EQ(clock.sleeps().back(), std::chrono::milliseconds(200));
  EXPECT_EQ(main.pumpCount() - pumpsBefore, 31);
  EXPECT_EQ(shell.opened.size(), 2u);
}

}  // namespace
