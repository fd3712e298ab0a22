// SPDX-License-Identifier: GPL-2.0-or-later
// The device and server commands end to end: real device servers and each PC's busd, the
// client's core with its reader thread, and what the servers, the rows, the device database and
// the user see as devices are connected, refused, ejected, released and asked for.
#include <gtest/gtest.h>

#include "devices/DeviceOperations.h"
#include "protocol/HubWire.h"
#include "tests/integration/ClientStack.h"
#include "tests/support/OperationFakes.h"
#include "tests/support/WireClient.h"

using namespace tessaro;
using namespace tessaro::testing;

namespace {

const HubSpec kHub{"127.0.0.2", "OFFICE-HUB", "00:1C:F0:AA:0B:01", PrinterAndStorage(), {}};
const std::string kHubName = "OFFICE-HUB - 127.0.0.2";
const std::string kPrinterNumber = "1";
const std::string kStorageNumber = "2";

// A PC's client core with the device commands, its storage eject reading the device database
// that the PC's busd writes.
struct OperatingPc {
  explicit OperatingPc(const Lab::Pc& pc)
      : client(pc), database(HivePaths{"", pc.machineHive}), pnp(client.bus, client.clock) {}

  // Starts the core on a server stored as enabled (or not) and refreshes the servers.
  void Start(const HubSpec& hub, bool enabled = true) {
    client.StoreServer(hub, enabled);
    client.Start();
    ASSERT_TRUE(client.cycle.RefreshServers());
  }
  size_t RowOf(const std::string& number) const {
    for (size_t i = 0; i < client.model.rowCount(); ++i)
      if (client.model.row(i).deviceNumber == number) return i;
    ADD_FAILURE() << "no row for device " << number;
    return client.model.rowCount();
  }
  bool RowOwnedBy(const std::string& number, const std::string& owner) {
    return client.Until([&] {
      const DeviceData* row = client.Row(number);
      return row != nullptr && row->owner == owner;
    });
  }
  // A Connect reaches other PCs as two changes, the link and then the lock: the row reads "Use
  // By" only once both have arrived.
  bool RowStateIs(const std::string& number, const std::string& stateText) {
    return client.Until([&] {
      const DeviceData* row = client.Row(number);
      return row != nullptr && row->stateText == stateText;
    });
  }
  std::optional<bool> StoredEnable(const HubSpec& hub) {
    ServerInfoReg entry;
    entry.ServerIP = hub.ip;
    entry.ServerMAC = hub.mac;
    if (!ReadServerEntry(client.registry, AppRegistryKey, entry)) return std::nullopt;
    return entry.ServerEnable != 0;
  }

  ClientStack client;
  SqliteRegistry database;
  PlugAndPlay pnp;
  OperationUi ui{client.state.flags};
  RecordingSpooler spooler{client.state.flags};
  RecordingShell shell;
  DeviceOperations ops{{client.bus, client.clock, client.main, client.lock, client.registry,
                        database, pnp, ui, spooler, shell},
                       client.state,
                       client.model,
                       client.cycle};
};

// "owner/lockKind/lockCount" of a device as its server reports it to `pc`.
std::string HubView(const Lab& lab, const Lab::Pc& pc, const std::string& ip,
                    const std::string& number) {
  for (const auto& d : lab.Devices(pc, ip))
    if (d.at("deviceNumber") == number)
      return d.at("owner") + "/" + d.at("lockKind") + "/" + d.at("lockCount");
  return "missing";
}

// An eject veto set at run time by an administration connection on the server's machine.
void SetVeto(const std::string& ip, uint8_t device, uint32_t type, const std::string& name) {
  WireClient admin(ip, 2005, "127.0.0.1");
  const auto frames =
      admin.Call(wire::MsgType::SetEjectVeto, 3, wire::EncodeSetEjectVeto({device, type, name}));
  ASSERT_FALSE(frames.empty());
  ASSERT_EQ(wire::DecodeResult(frames.back().payload), 0u);
}

class DeviceOperationsLab : public ::testing::Test {
 protected:
  void SetUp() override {
    lab.StartHub(kHub);
    a = &lab.StartPc("PC-A", {kHub.ip});
    ASSERT_TRUE(lab.WaitForServerState(*a, kHub.ip, "1"));
    pcA = std::make_unique<OperatingPc>(*a);
  }
  // Connects the storage device on PC A and waits until its row shows it.
  void ConnectStorage() {
    ASSERT_TRUE(pcA->client.Until([&] { return pcA->client.model.rowCount() == 2; }));
    pcA->ops.Connect(pcA->RowOf(kStorageNumber));
    ASSERT_TRUE(pcA->RowOwnedBy(kStorageNumber, "PC-A"));
    ASSERT_EQ(HubView(lab, *a, kHub.ip, kStorageNumber), "PC-A/2/1");
  }

  Lab lab;
  Lab::Pc* a = nullptr;
  std::unique_ptr<OperatingPc> pcA;
};

}  // namespace

TEST_F(DeviceOperationsLab, ConnectThenDisconnectAPrinter) {
  pcA->Start(kHub);
  ASSERT_TRUE(pcA->client.Until([&] { return pcA->client.model.rowCount() == 2; }));

  pcA->ops.Connect(pcA->RowOf(kPrinterNumber));
  ASSERT_TRUE(pcA->RowOwnedBy(kPrinterNumber, "PC-A"));
  ASSERT_TRUE(pcA->RowStateIs(kPrinterNumber, " - Use By (PC-A)"));
  const DeviceData& row = *pcA->client.Row(kPrinterNumber);
  EXPECT_EQ(row.lockKind, 2);
  EXPECT_EQ(row.lockCount, 1);
  EXPECT_EQ(HubView(lab, *a, kHub.ip, kPrinterNumber), "PC-A/2/1");
  EXPECT_TRUE(pcA->client.Row(kStorageNumber)->owner.empty()) << "only the chosen device";

  pcA->ops.Disconnect(pcA->RowOf(kPrinterNumber));
  ASSERT_TRUE(pcA->RowOwnedBy(kPrinterNumber, ""));
  EXPECT_EQ(pcA->client.Row(kPrinterNumber)->lockCount, 0);
  EXPECT_EQ(HubView(lab, *a, kHub.ip, kPrinterNumber), "/0/0");
  EXPECT_TRUE(pcA->ui.messages().empty());
  EXPECT_TRUE(pcA->ui.dialogs().empty());
}

TEST_F(DeviceOperationsLab, StorageOfAServerInServerModeIsNeverSent) {
  // A second server, in network storage mode.
  const std::string config = lab.dir() / "nas.conf";
  WriteTextFile(config, std::string("[server]\nname = NAS-HUB\naddress = 127.0.0.3\nport = 2005\n"
                                    "mac = 00:1C:F0:AA:0B:03\nstorage-mode = 0\n\n") +
                            PrinterAndStorage());
  Process nas(Lab::Binary("hubd/tessaro-hubd"), {"--config", config});
  ASSERT_TRUE(nas.Start() && nas.WaitForOutput("hubd: ready"));
  auto& c = lab.StartPc("PC-C", {"127.0.0.3"});
  ASSERT_TRUE(lab.WaitForServerState(c, "127.0.0.3", "1"));
  OperatingPc pc(c);
  pc.Start({"127.0.0.3", "NAS-HUB", "00:1C:F0:AA:0B:03", PrinterAndStorage(), {}});
  ASSERT_TRUE(pc.client.Until([&] { return pc.client.model.rowCount() == 2; }));
  EXPECT_EQ(pc.client.Row(kStorageNumber)->autoPrinterIndex, 0) << "the server's storage mode";

  pc.ops.Connect(pc.RowOf(kStorageNumber));
  ASSERT_EQ(pc.ui.messages().size(), 1u);
  EXPECT_EQ(pc.ui.messages()[0].text,
            "Can not connect because the storage access mode is currently in Server mode, not "
            "Remotix mode.");
  EXPECT_EQ(HubView(lab, c, "127.0.0.3", kStorageNumber), "/0/0");
  EXPECT_EQ(nas.Output().find("link device"), std::string::npos) << nas.Output();
  RegKey key;
  EXPECT_NE(pc.database.OpenKey(RegRoot::LocalMachine,
                                "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_2e10&Pid_5567",
                                regaccess::kRead, false, key),
            regerr::kSuccess)
      << "never linked to this PC, so never recorded";

  // Its printer connects as on any server.
  pc.ops.Connect(pc.RowOf(kPrinterNumber));
  EXPECT_TRUE(pc.RowOwnedBy(kPrinterNumber, "PC-C"));
}

TEST_F(DeviceOperationsLab, EjectVetoedByTheServerAsksTheUser) {
  pcA->Start(kHub);
  ConnectStorage();
  SetVeto(kHub.ip, 2, 6, "Open files on E:");

  pcA->ui.QueueAnswer(answer::kCancel);
  pcA->ops.Disconnect(pcA->RowOf(kStorageNumber));
  ASSERT_EQ(pcA->ui.dialogs().size(), 1u);
  EXPECT_EQ(pcA->ui.dialogs()[0].dialogId, "TEjectDeviceDlg");
  EXPECT_EQ(pcA->ui.dialogs()[0].text,
            "The device Keystone - Pocket Drive 32 is busy, please click \"Cancel\" to continue, "
            "or click \"Disconnect\" to hard stop the device.");
  EXPECT_EQ(HubView(lab, *a, kHub.ip, kStorageNumber), "PC-A/2/1") << "still connected";

  pcA->ui.QueueAnswer(answer::kOk);
  pcA->ops.Disconnect(pcA->RowOf(kStorageNumber));
  EXPECT_EQ(pcA->ui.dialogs().size(), 2u);
  EXPECT_EQ(HubView(lab, *a, kHub.ip, kStorageNumber), "/0/0");
  EXPECT_TRUE(pcA->RowOwnedBy(kStorageNumber, ""));
  EXPECT_TRUE(pcA->ui.messages().empty());
}

TEST_F(DeviceOperationsLab, StorageWhoseNodeIsGoneIsReleasedWithoutAsking) {
  auto& b = lab.StartPc("PC-B", {kHub.ip});
  ASSERT_TRUE(lab.WaitForServerState(b, kHub.ip, "1"));
  ASSERT_TRUE(lab.AttachAll(b, {kHub.ip}));
  pcA->Start(kHub);
  ConnectStorage();
  SetVeto(kHub.ip, 2, 6, "Open files on E:");  // would be asked about, were it still here
  // Its lock ends and PC B takes it: it is no longer linked to PC A.
  ASSERT_EQ(lab.Cli(*a, {"unlock", kHub.ip, kStorageNumber, "2", "0"}).exitCode, 0);
  ASSERT_EQ(lab.Cli(b, {"link", kHub.ip, kStorageNumber}).exitCode, 0);
  ASSERT_TRUE(
      Eventually([&] { return !pcA->pnp.LocateDevNode("USB\\Vid_2e10&Pid_5567\\4C5300012312"); }));

  // The eject finds no device node, so the device is released without the dialog; the server
  // refuses, as PC A holds nothing any more.
  pcA->ops.Disconnect(pcA->RowOf(kStorageNumber));
  EXPECT_TRUE(pcA->ui.dialogs().empty());
  EXPECT_EQ(pcA->ui.messages().size(), 1u);
  EXPECT_EQ(pcA->ui.messages()[0].text, "Disconnect device failed !");
  EXPECT_EQ(HubView(lab, *a, kHub.ip, kStorageNumber), "PC-B/0/0") << "PC B keeps it";
}

TEST_F(DeviceOperationsLab, DisableKeepsTheServerWhileTheUserKeepsItsStorage) {
  pcA->Start(kHub);
  ConnectStorage();
  SetVeto(kHub.ip, 2, 6, "Open files on E:");

  pcA->ui.QueueAnswer(answer::kCancel);
  pcA->ops.DisableServer(kHubName);
  EXPECT_EQ(pcA->ui.dialogs().size(), 1u);
  ASSERT_EQ(pcA->client.model.servers().size(), 1u);
  EXPECT_TRUE(pcA->client.model.servers()[0]->enabled);
  EXPECT_EQ(pcA->client.model.rowCount(), 2u);
  EXPECT_EQ(pcA->StoredEnable(kHub), true);
  EXPECT_EQ(HubView(lab, *a, kHub.ip, kStorageNumber), "PC-A/2/1");

  // Released this time: the server is disabled, its rows go and no event brings them back.
  pcA->ui.QueueAnswer(answer::kOk);
  pcA->ops.DisableServer(kHubName);
  EXPECT_FALSE(pcA->client.model.servers()[0]->enabled);
  EXPECT_NE(pcA->client.model.servers()[0]->handle, kInvalidBusHandle) << "its Spur stays open";
  EXPECT_EQ(pcA->client.model.rowCount(), 0u);
  EXPECT_EQ(pcA->StoredEnable(kHub), false);
  EXPECT_EQ(HubView(lab, *a, kHub.ip, kStorageNumber), "/0/0");
  ASSERT_EQ(lab.Cli(*a, {"link", kHub.ip, kPrinterNumber}).exitCode, 0);  // a change on it
  pcA->client.Until([] { return false; }, std::chrono::milliseconds(1500));
  EXPECT_EQ(pcA->client.model.rowCount(), 0u);
}

TEST_F(DeviceOperationsLab, EnableAttachesTheServerAndListsItsDevices) {
  pcA->Start(kHub, false);
  ASSERT_EQ(pcA->client.model.servers().size(), 1u);
  EXPECT_FALSE(pcA->client.model.servers()[0]->enabled);
  EXPECT_EQ(pcA->client.model.servers()[0]->handle, kInvalidBusHandle);
  EXPECT_TRUE(lab.CliJson(*a, {"spurs"}).empty()) << "not attached";

  pcA->ops.EnableServer(kHubName);
  ASSERT_EQ(pcA->client.model.servers().size(), 1u);
  EXPECT_TRUE(pcA->client.model.servers()[0]->enabled);
  EXPECT_NE(pcA->client.model.servers()[0]->handle, kInvalidBusHandle);
  EXPECT_EQ(pcA->client.model.rowCount(), 2u);
  EXPECT_EQ(pcA->StoredEnable(kHub), true);

  // Its device-list events now reach the rows.
  ASSERT_EQ(lab.Cli(*a, {"link", kHub.ip, kPrinterNumber}).exitCode, 0);
  EXPECT_TRUE(pcA->RowOwnedBy(kPrinterNumber, "PC-A"));

  pcA->ops.OpenServerConfiguration(kHubName);
  EXPECT_EQ(pcA->shell.opened, std::vector<std::string>{"http://127.0.0.2/"});
}

TEST_F(DeviceOperationsLab, RequestToUseReachesTheHolderWhoReleasesIt) {
  auto& b = lab.StartPc("PC-B", {kHub.ip});
  ASSERT_TRUE(lab.WaitForServerState(b, kHub.ip, "1"));
  OperatingPc pcB(b);
  pcA->Start(kHub);
  pcB.Start(kHub);
  ASSERT_TRUE(pcA->client.Until([&] { return pcA->client.model.rowCount() == 2; }));
  pcA->ops.Connect(pcA->RowOf(kPrinterNumber));
  ASSERT_TRUE(pcA->RowOwnedBy(kPrinterNumber, "PC-A"));
  ASSERT_TRUE(pcB.RowOwnedBy(kPrinterNumber, "PC-A"));
  EXPECT_TRUE(pcB.RowStateIs(kPrinterNumber, " - Use By (PC-A)"))
      << pcB.client.Row(kPrinterNumber)->stateText;

  pcB.ops.RequestToUse(pcB.RowOf(kPrinterNumber));
  EXPECT_TRUE(pcB.ui.messages().empty()) << "the asking PC shows nothing";
  // PC A's reader hands the kind-4 record over; the release request shows half a second later.
  ASSERT_TRUE(pcA->client.Until([&] { return pcA->client.dispatcher.releaseRequest().armed; }));
  ASSERT_TRUE(pcA->client.Until([&] { return pcA->client.window.TakeDueTimer(); }));
  pcA->client.dispatcher.OnReleaseRequestTimer();
  ASSERT_EQ(pcA->client.ui.messages().size(), 1u);
  EXPECT_EQ(pcA->client.ui.messages()[0].text,
            "Please release the Lumen - Laser 2040\n(disconnect) resources for other user.");

  pcA->ops.Disconnect(pcA->RowOf(kPrinterNumber));
  ASSERT_TRUE(pcB.RowOwnedBy(kPrinterNumber, ""));
  pcB.ops.Connect(pcB.RowOf(kPrinterNumber));
  EXPECT_TRUE(pcB.RowOwnedBy(kPrinterNumber, "PC-B"));
  EXPECT_TRUE(pcA->RowOwnedBy(kPrinterNumber, "PC-B"));
  EXPECT_TRUE(pcA->RowStateIs(kPrinterNumber, " - Use By (PC-B)"))
      << pcA->client.Row(kPrinterNumber)->stateText;
  EXPECT_TRUE(pcA->ui.messages().empty());
  EXPECT_TRUE(pcB.ui.messages().empty());
}
