// SPDX-License-Identifier: GPL-2.0-or-later
// Manage Device over the real pieces: rows from a scripted bus, the user's hive, a private cupsd
// holding queues on file:, socket://, ipp:// and tessaro:// URIs, and the print monitors. A
// scripted window plays the user's part in each run.
#include <functional>

#include "autoconnect/AutoConnectLists.h"
#include "platform/linux/CupsQueueAdmin.h"
#include "platform/linux/CupsSpooler.h"
#include "platform/linux/SystemClock.h"
#include "printing/ClientMonitorHost.h"
#include "setup/DeviceSetup.h"
#include "setup/SetupTexts.h"
#include "tests/devices/RefreshFixture.h"
#include "tests/support/PrivateCups.h"

using namespace tessaro;
using namespace tessaro::testing;
using namespace tessaro::setup;

namespace {

const Hub kHub{"192.168.1.20", "Office", "00:1C:F0:AA:0B:01", 1, 1};
const Dev kPrinter{.number = 1};
const Dev kOtherPrinter{
    .number = 2, .product = "Laser 3050", .productId = 0x0043, .serial = "LW3050-1"};
const Dev kScanner{.number = 3,
                   .type = "UNKNOWN",
                   .manufacturer = "Optic",
                   .product = "Flat 9",
                   .vendorId = 0x04A9,
                   .productId = 0x1909,
                   .serial = "OF9"};
const std::string kOwnUri = "tessaro://00-1C-F0-AA-0B-01/04F9/0042?serial=LW2040-1";

// The pause after linking lets the system see the device; nothing here needs it.
struct NoPause : SetupSleeper {
  void Pause(std::chrono::milliseconds) override {}
};

// Plays the user: runs the script on the wizard, then closes the window as its close box does.
class ScriptedWindow : public SetupWindow {
 public:
  std::function<void(SetupWizard&)> script;
  RunEnd Run(SetupWizard& wizard) override {
    if (script) script(wizard);
    if (wizard.end() == RunEnd::Running) wizard.Cancel();
    return wizard.end();
  }
};

PrinterMakerTable Makers() {
  PrinterMakerTable table;
  table.sections = {{"Lumen", {{"VID", "04F9"}, {"1", "Lumen"}}},
                    {"Rival", {{"VID", "03F0"}, {"1", "Rival"}}}};
  return table;
}

class DeviceSetupTest : public RefreshTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(cups.Running());
    ASSERT_TRUE(cups.AddQueue("Lumen_Laser", kOwnUri));
    ASSERT_TRUE(cups.AddQueue("Lumen_Other", "tessaro://00-1C-F0-AA-0B-01/04F9/0043"));
    ASSERT_TRUE(cups.AddQueue("Rival_Jet", "tessaro://00-1C-F0-AA-0B-01/03F0/0001"));
    ASSERT_TRUE(cups.AddQueue("Office_File", "file://" + cups.OutputFolder() + "/office.prn"));
    ASSERT_TRUE(cups.AddQueue("Net_Socket", "socket://127.0.0.1:9100"));
    ASSERT_TRUE(cups.AddQueue("Web_Queue", "ipp://127.0.0.1:631/printers/web"));
    // The other printer's entry binds "Lumen_Other", as a previous run stored it.
    AutoConnectInfo other;
    other.ServerName = kHub.name;
    other.ServerIP = kHub.ip;
    other.ServerMAC = kHub.mac;
    other.DeviceVid = "04F9";
    other.DevicePid = "0043";
    other.DeviceSNo = "LW3050-1";
    other.PrinterEnable = 1;
    other.PrinterName = "Lumen_Other";
    other.PrinterPort = "tessaro://00-1C-F0-AA-0B-01/04F9/0043";
    ASSERT_TRUE(WriteDeviceEntry(registry, kAppKey, other));
    LoadAutoConnectLists(registry, kAppKey, printers, faxes);
    ASSERT_EQ(printers.size(), 1u);
    Listed(kHub, {kPrinter, kOtherPrinter, kScanner});
    cycle.RefreshDevices(model.FindServer(kHub.name, kHub.ip));
    for (uint32_t code :
         {busop::kLinkDevice, busop::kUnlinkDevice, busop::kLockDevice, busop::kUnlockDevice})
      bus.SetReply("spur/" + kHub.ip, code, FakeBusTransport::Success({}));
  }
  void TearDown() override { monitors.StopPrintMonitors(printers, main); }

  size_t RowOf(const Dev& d) const {
    for (size_t i = 0; i < model.rowCount(); ++i)
      if (model.row(i).deviceNumber == std::to_string(d.number)) return i;
    ADD_FAILURE() << "no row " << int(d.number);
    return model.rowCount();
  }
  std::optional<AutoConnectInfo> Stored(const std::string& pid, const std::string& serial) {
    AutoConnectInfo entry;
    entry.ServerIP = kHub.ip;
    entry.ServerMAC = kHub.mac;
    entry.DeviceVid = pid == "1909" ? "04A9" : "04F9";
    entry.DevicePid = pid;
    entry.DeviceSNo = serial;
    if (!ReadDeviceEntry(registry, kAppKey, entry)) return std::nullopt;
    return entry;
  }
  static size_t Named(const SetupWizard& wizard, const std::string& name) {
    const auto& rows = wizard.printerRows();
    for (size_t i = 0; i < rows.size(); ++i)
      if (rows[i].name == name) return i;
    return rows.size();
  }
  // From the install page to the auto-print page, not installing.
  static void ToAutoPrint(SetupWizard& wizard) {
    ASSERT_EQ(wizard.page(), SetupPage::Install);
    wizard.Next();
    ASSERT_EQ(wizard.page(), SetupPage::Connect);
    wizard.Next();
    ASSERT_EQ(wizard.page(), SetupPage::AutoPrint);
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const MessageRequest& m : ui.messages()) texts.push_back(m.text);
    return texts;
  }

  PrivateCups cups;
  CupsSpooler spooler{cups.socket()};
  CupsQueueAdmin queues{cups.socket()};
  ScriptedUi ui;
  SystemClock systemClock;
  ClientMonitorHost host{main, model, cycle, cycle.driver(), bus, ui, state.flags};
  PrintMonitors monitors{{spooler, host, systemClock, "PC-A", 0}};
  PrinterMakerTable makers = Makers();
  ScriptedWindow window;
  NoPause noPause;
  DeviceSetup setup{{registry,
                     state,
                     model,
                     cycle.driver(),
                     &monitors,
                     main,
                     noPause,
                     spooler,
                     queues,
                     ui,
                     makers,
                     {}},
                    window};
};

TEST_F(DeviceSetupTest, PrinterListMarksEveryKindOfQueueAndTheChoiceIsStored) {
  std::vector<PrinterRow> shown;
  window.script = [&](SetupWizard& wizard) {
    ToAutoPrint(wizard);
    shown = wizard.printerRows();
    wizard.ClickPrinterRow(Named(wizard, "Lumen_Laser"));
    wizard.Next();
  };
  setup.ManagePrinter(RowOf(kPrinter));

  struct Expected {
    const char* name;
    int mark;
    RowState state;
  };
  // Choosable first, then other devices' printers, then what cannot be chosen; the ipp://
  // queue is an internet port and never listed.
  const std::vector<Expected> expected = {
      {"Lumen_Laser", 0, RowState::Unchecked},
      {"Lumen_Other", kMarkSameKindTaken, RowState::Unchecked},
      {"Rival_Jet", kMarkOtherMaker, RowState::Unavailable},
      {"Office_File", 5, RowState::Unavailable},
      {"Net_Socket", 3, RowState::Unavailable},
  };
  ASSERT_EQ(shown.size(), expected.size());
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.name);
    const auto it = std::find_if(shown.begin(), shown.end(),
                                 [&](const PrinterRow& r) { return r.name == e.name; });
    ASSERT_NE(it, shown.end());
    EXPECT_EQ(it->mark, e.mark);
    EXPECT_EQ(it->state, e.state);
  }
  EXPECT_EQ(shown[0].name, "Lumen_Laser");
  EXPECT_EQ(shown[1].name, "Lumen_Other");

  const auto entry = Stored("0042", "LW2040-1");
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->PrinterName, "Lumen_Laser");
  EXPECT_EQ(entry->PrinterPort, kOwnUri);
  EXPECT_EQ(entry->PrinterEnable, 1);
  EXPECT_EQ(entry->DeviceProduct, "Laser 2040");
  ASSERT_EQ(printers.size(), 2u);
  EXPECT_EQ(printers[1]->PrinterName, "Lumen_Laser");
  EXPECT_NE(monitors.MonitorOf(*printers[1]), nullptr);
  EXPECT_EQ(model.row(RowOf(kPrinter)).autoPrinterIndex, 1);
  EXPECT_EQ(model.row(RowOf(kPrinter)).autoPrinterName, "Lumen_Laser");
  // The device was linked for the run and is not this PC's afterwards: nothing to release.
  EXPECT_EQ(Requests(busop::kLinkDevice), 1u);
  EXPECT_EQ(Requests(busop::kUnlinkDevice), 0u);
}

TEST_F(DeviceSetupTest, TakingAnotherDevicesPrinterMovesTheBinding) {
  window.script = [&](SetupWizard& wizard) {
    ToAutoPrint(wizard);
    wizard.ClickPrinterRow(Named(wizard, "Lumen_Other"));
    wizard.Next();
  };
  setup.ManagePrinter(RowOf(kPrinter));
  EXPECT_EQ(Stored("0043", "LW3050-1")->PrinterEnable, 0);
  EXPECT_EQ(Stored("0042", "LW2040-1")->PrinterName, "Lumen_Other");
  ASSERT_EQ(printers.size(), 1u);
  EXPECT_EQ(printers[0]->DevicePid, "0042");
  EXPECT_EQ(model.row(RowOf(kPrinter)).autoPrinterIndex, 0);
  EXPECT_EQ(model.row(RowOf(kOtherPrinter)).autoPrinterIndex, -1);
}

TEST_F(DeviceSetupTest, AddedQueuePrintsToTheDeviceAndIsPreselected) {
  window.script = [&](SetupWizard& wizard) {
    const auto name = wizard.AddPrintQueue();
    ASSERT_EQ(name, "Lumen_Laser_2040");
    ToAutoPrint(wizard);
    const auto& rows = wizard.printerRows();
    ASSERT_LT(Named(wizard, *name), rows.size());
    EXPECT_EQ(rows[Named(wizard, *name)].state, RowState::Checked);
    wizard.Next();
  };
  setup.ManagePrinter(RowOf(kPrinter));
  EXPECT_NE(cups.Tool("lpstat", {"-v", "Lumen_Laser_2040"}).out.find(kOwnUri), std::string::npos);
  EXPECT_EQ(Stored("0042", "LW2040-1")->PrinterName, "Lumen_Laser_2040");
  // A second queue for the same device never replaces the first.
  std::string error;
  EXPECT_EQ(queues.AddQueue({"Lumen_Laser_2040", kOwnUri, "", "", ""}, error),
            "Lumen_Laser_2040_2");
}

TEST_F(DeviceSetupTest, BadTurnsLeaveTheStoredEntriesAsTheyWere) {
  {
    SCOPED_TRACE("the device is taken by another PC");
    bus.SetReply("spur/" + kHub.ip, busop::kLinkDevice,
                 FakeBusTransport::Fail(buserr::kGenFailure));
    window.script = [&](SetupWizard& wizard) {
      wizard.Next();
      EXPECT_EQ(wizard.page(), SetupPage::Install);
    };
    setup.ManagePrinter(RowOf(kPrinter));
    EXPECT_EQ(Messages().back(), kLinkFailedText);
    bus.SetReply("spur/" + kHub.ip, busop::kLinkDevice, FakeBusTransport::Success({}));
  }
  {
    SCOPED_TRACE("the chosen queue is deleted while the wizard is open");
    window.script = [&](SetupWizard& wizard) {
      ToAutoPrint(wizard);
      wizard.ClickPrinterRow(Named(wizard, "Lumen_Laser"));
      ASSERT_EQ(cups.Tool("lpadmin", {"-x", "Lumen_Laser"}).exitCode, 0);
      wizard.Next();
      EXPECT_EQ(wizard.end(), RunEnd::Running);
      EXPECT_EQ(Named(wizard, "Lumen_Laser"), wizard.printerRows().size());
    };
    setup.ManagePrinter(RowOf(kPrinter));
    EXPECT_EQ(Messages().back(), text::kQueueGone);
  }
  {
    SCOPED_TRACE("the print system is gone");
    cups.Stop();
    window.script = [&](SetupWizard& wizard) {
      EXPECT_FALSE(wizard.AddPrintQueue());
      ToAutoPrint(wizard);
      EXPECT_TRUE(wizard.printerRows().empty());
      ui.QueueAnswer(answer::kYes);  // leave without a printer
      wizard.Next();
      EXPECT_EQ(wizard.end(), RunEnd::Cancel);
    };
    setup.ManagePrinter(RowOf(kPrinter));
    EXPECT_NE(Messages().at(Messages().size() - 2).find("cannot be reached"), std::string::npos);
  }
  EXPECT_FALSE(Stored("0042", "LW2040-1"));
  ASSERT_EQ(printers.size(), 1u);
  EXPECT_EQ(Stored("0043", "LW3050-1")->PrinterEnable, 1);
}

TEST_F(DeviceSetupTest, ScannerIsRecognisedAndRemovedAgain) {
  window.script = [&](SetupWizard& wizard) {
    wizard.Next();
    ASSERT_EQ(wizard.page(), SetupPage::ConnectScanner);
    wizard.Next();
  };
  setup.ManageScanner(RowOf(kScanner));
  EXPECT_EQ(model.row(RowOf(kScanner)).type, "Scanner");
  EXPECT_EQ(scannerIds, std::vector<std::string>{"Vid_04A9&Pid_1909"});
  EXPECT_EQ(Stored("1909", "OF9")->ScanIndex, 1);

  window.script = [&](SetupWizard& wizard) {
    ASSERT_EQ(wizard.page(), SetupPage::Trouble);
    EXPECT_EQ(wizard.look().title, "Scanner TroubleShooting");
    wizard.ChooseTroubleOption(3);
    ASSERT_EQ(wizard.scannerRows().size(), 1u);
    wizard.ClickScannerRow(0);
    wizard.TroubleOk();
    wizard.Next();
  };
  setup.ManageScanner(RowOf(kScanner));
  EXPECT_EQ(model.row(RowOf(kScanner)).type, "UNKNOWN");
  EXPECT_TRUE(scannerIds.empty());
  std::vector<std::string> stored;
  ListScannerIds(registry, kAppKey, stored);
  EXPECT_TRUE(stored.empty());
  EXPECT_EQ(Stored("1909", "OF9")->ScanIndex, 0);
}

}  // namespace
