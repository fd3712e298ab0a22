// SPDX-License-Identifier: GPL-2.0-or-later
// Manage Device's runs with a scripted window playing the user's part: what the printer list
// shows, what each run stores, and the bad turns a run may take.
#include <functional>

#include "host/WindowsVersion.h"
#include "scanning/twain/TwainManager.h"
#include "setup/SetupTexts.h"
#include "tests/setup/DeviceSetupFixture.h"

using namespace tessaro;
using namespace tessaro::testing;
using namespace tessaro::setup;

namespace {

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

class DeviceSetupTest : public DeviceSetupRig {
 protected:
  void SetUp() override {
    DeviceSetupRig::SetUp();
    UseWindow(scripted);
  }
  ScriptedWindow scripted;
};

TEST_F(DeviceSetupTest, PrinterListMarksEveryKindOfQueueAndTheChoiceIsStored) {
  std::vector<PrinterRow> shown;
  scripted.script = [&](SetupWizard& wizard) {
    ToAutoPrint(wizard);
    shown = wizard.printerRows();
    wizard.ClickPrinterRow(Named(wizard, "Lumen_Laser"));
    wizard.Next();
  };
  setup->ManagePrinter(RowOf(kPrinter));

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
  scripted.script = [&](SetupWizard& wizard) {
    ToAutoPrint(wizard);
    wizard.ClickPrinterRow(Named(wizard, "Lumen_Other"));
    wizard.Next();
  };
  setup->ManagePrinter(RowOf(kPrinter));
  EXPECT_EQ(Stored("0043", "LW3050-1")->PrinterEnable, 0);
  EXPECT_EQ(Stored("0042", "LW2040-1")->PrinterName, "Lumen_Other");
  ASSERT_EQ(printers.size(), 1u);
  EXPECT_EQ(printers[0]->DevicePid, "0042");
  EXPECT_EQ(model.row(RowOf(kPrinter)).autoPrinterIndex, 0);
  EXPECT_EQ(model.row(RowOf(kOtherPrinter)).autoPrinterIndex, -1);
}

// A stopped monitor leaves its queue paused: a queue that no entry binds any more is resumed,
// whether the device was bound to another queue or its queue unchecked.
TEST_F(DeviceSetupTest, AQueueNoEntryBindsAnyMoreIsResumed) {
  const auto paused = [&](const std::string& queue) {
    return cups.QueueStatus(queue).find("disabled") != std::string::npos;
  };
  const auto choose = [&](const std::string& queue) {
    scripted.script = [&, queue](SetupWizard& wizard) {
      // A device set up already opens on the troubleshooting page.
      if (wizard.page() == SetupPage::Trouble) {
        wizard.ChooseTroubleOption(2);
        wizard.ClickPrinterRow(Named(wizard, queue));
        wizard.TroubleOk();
      } else {
        ToAutoPrint(wizard);
        wizard.ClickPrinterRow(Named(wizard, queue));
      }
      wizard.Next();
    };
    setup->ManagePrinter(RowOf(kPrinter));
  };
  choose("Lumen_Laser");
  ASSERT_EQ(Stored("0042", "LW2040-1")->PrinterName, "Lumen_Laser");
  ASSERT_EQ(cups.Tool("cupsdisable", {"-r", kHeldQueueMessage, "Lumen_Laser"}).exitCode, 0);
  choose("Lumen_Other");
  ASSERT_EQ(Stored("0042", "LW2040-1")->PrinterName, "Lumen_Other");
  EXPECT_FALSE(paused("Lumen_Laser")) << cups.QueueStatus("Lumen_Laser");
  ASSERT_EQ(cups.Tool("cupsdisable", {"-r", kHeldQueueMessage, "Lumen_Other"}).exitCode, 0);
  choose("Lumen_Other");  // unchecks it
  ASSERT_EQ(Stored("0042", "LW2040-1")->PrinterEnable, 0);
  EXPECT_FALSE(paused("Lumen_Other")) << cups.QueueStatus("Lumen_Other");
}

TEST_F(DeviceSetupTest, AddedQueuePrintsToTheDeviceAndIsPreselected) {
  scripted.script = [&](SetupWizard& wizard) {
    const auto name = wizard.AddPrintQueue();
    ASSERT_EQ(name, "Lumen_Laser_2040");
    ToAutoPrint(wizard);
    const auto& rows = wizard.printerRows();
    ASSERT_LT(Named(wizard, *name), rows.size());
    EXPECT_EQ(rows[Named(wizard, *name)].state, RowState::Checked);
    wizard.Next();
  };
  setup->ManagePrinter(RowOf(kPrinter));
  EXPECT_NE(cups.Tool("lpstat", {"-v", "Lumen_Laser_2040"}).out.find(kOwnUri), std::string::npos);
  EXPECT_EQ(Stored("0042", "LW2040-1")->PrinterName, "Lumen_Laser_2040");
  // A second queue for the same device never replaces the first.
  EXPECT_EQ(queues.AddQueue({"Lumen_Laser_2040", kOwnUri, "", "", ""}), "Lumen_Laser_2040_2");
}

TEST_F(DeviceSetupTest, BadTurnsLeaveTheStoredEntriesAsTheyWere) {
  {
    SCOPED_TRACE("the device is taken by another PC");
    bus.SetReply("spur/" + kHub.ip, busop::kLinkDevice,
                 FakeBusTransport::Fail(buserr::kGenFailure));
    scripted.script = [&](SetupWizard& wizard) {
      wizard.Next();
      EXPECT_EQ(wizard.page(), SetupPage::Install);
    };
    setup->ManagePrinter(RowOf(kPrinter));
    EXPECT_EQ(Messages().back(), kLinkFailedText);
    bus.SetReply("spur/" + kHub.ip, busop::kLinkDevice, FakeBusTransport::Success({}));
  }
  {
    SCOPED_TRACE("the chosen queue is deleted while the wizard is open");
    scripted.script = [&](SetupWizard& wizard) {
      ToAutoPrint(wizard);
      wizard.ClickPrinterRow(Named(wizard, "Lumen_Laser"));
      ASSERT_EQ(cups.Tool("lpadmin", {"-x", "Lumen_Laser"}).exitCode, 0);
      wizard.Next();
      EXPECT_EQ(wizard.end(), RunEnd::Running);
      EXPECT_EQ(Named(wizard, "Lumen_Laser"), wizard.printerRows().size());
    };
    setup->ManagePrinter(RowOf(kPrinter));
    EXPECT_EQ(Messages().back(), text::kQueueGone);
  }
  {
    SCOPED_TRACE("the print system is gone");
    cups.Stop();
    scripted.script = [&](SetupWizard& wizard) {
      EXPECT_FALSE(wizard.AddPrintQueue());
      ToAutoPrint(wizard);
      EXPECT_TRUE(wizard.printerRows().empty());
      ui.QueueAnswer(answer::kYes);  // leave without a printer
      wizard.Next();
      EXPECT_EQ(wizard.end(), RunEnd::Cancel);
    };
    setup->ManagePrinter(RowOf(kPrinter));
    EXPECT_NE(Messages().at(Messages().size() - 2).find("cannot be reached"), std::string::npos);
  }
  EXPECT_FALSE(Stored("0042", "LW2040-1"));
  ASSERT_EQ(printers.size(), 1u);
  EXPECT_EQ(Stored("0043", "LW3050-1")->PrinterEnable, 1);
}

TEST_F(DeviceSetupTest, ScannerIsRecognisedAndRemovedAgain) {
  scripted.script = [&](SetupWizard& wizard) {
    wizard.Next();
    ASSERT_EQ(wizard.page(), SetupPage::ConnectScanner);
    wizard.Next();
  };
  setup->ManageScanner(RowOf(kScanner));
  EXPECT_EQ(model.row(RowOf(kScanner)).type, "Scanner");
  EXPECT_EQ(scannerIds, std::vector<std::string>{"Vid_04A9&Pid_1909"});
  EXPECT_EQ(Stored("1909", "OF9")->ScanIndex, 1);

  scripted.script = [&](SetupWizard& wizard) {
    ASSERT_EQ(wizard.page(), SetupPage::Trouble);
    EXPECT_EQ(wizard.look().title, "Scanner TroubleShooting");
    wizard.ChooseTroubleOption(3);
    ASSERT_EQ(wizard.scannerRows().size(), 1u);
    wizard.ClickScannerRow(0);
    wizard.TroubleOk();
    wizard.Next();
  };
  setup->ManageScanner(RowOf(kScanner));
  EXPECT_EQ(model.row(RowOf(kScanner)).type, "UNKNOWN");
  EXPECT_TRUE(scannerIds.empty());
  std::vector<std::string> stored;
  ListScannerIds(registry, kAppKey, stored);
  EXPECT_TRUE(stored.empty());
  EXPECT_EQ(Stored("1909", "OF9")->ScanIndex, 0);
}

// Scanners by name only: the lists never open one.
class NamedScanners : public ScannerSource {
 public:
  explicit NamedScanners(std::vector<std::string> names) : names_(std::move(names)) {}
  std::vector<ScannerDeviceInfo> Devices() override {
    std::vector<ScannerDeviceInfo> devices;
    for (const std::string& name : names_) devices.push_back({name, "", "", "flatbed"});
    return devices;
  }
  std::unique_ptr<ScannerDevice> Open(const std::string&, ScanStatus& status) override {
    status = ScanStatus::kInvalid;
    return nullptr;
  }

 private:
  std::vector<std::string> names_;
};

TEST_F(DeviceSetupTest, OlderSystemChoosesAmongTheManagersSources) {
  state.windowsVersionFlags = kWin2000 | kWinNT5OrLater;
  NamedScanners scanners({"Optic Flat 9", "Network Scanner 2", "Rival Scan"});
  twain::TwainManager manager(scanners, dir / "windows");
  twain::TwainManager::Install(&manager);
  std::vector<std::string> listed;
  scripted.script = [&](SetupWizard& wizard) {
    wizard.Next();
    ASSERT_EQ(wizard.page(), SetupPage::ConnectScanner);
    EXPECT_TRUE(wizard.scannerListShown());
    for (const ScannerRow& row : wizard.scannerRows()) listed.push_back(row.name);
    wizard.ClickScannerRow(0);
    wizard.Next();
  };
  setup->ManageScanner(RowOf(kScanner));
  twain::TwainManager::Install(nullptr);
  // Network scanners never reach a device on a server; "Rival" names another maker's driver,
  // but this device's maker is not in the table, so nothing is filtered by maker.
  EXPECT_EQ(listed, (std::vector<std::string>{"Optic Flat 9", "Rival Scan"}));
  const auto entry = Stored("1909", "OF9");
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->ScanNameTwain, "Optic Flat 9");
}

TEST(QueueNaming, NamesAreValidForCupsAndNeverTaken) {
  const struct {
    const char* wanted;
    std::vector<std::string> taken;
    std::string name;
  } cases[] = {
      {"Lumen_Laser 2040", {}, "Lumen_Laser_2040"},
      {"A/B\\C?D#E'F\"G", {}, "A_B_C_D_E_F_G"},
      {"", {}, "USB_Printer"},
      {"Lumen_Laser", {"lumen_laser", "LUMEN_LASER_2"}, "Lumen_Laser_3"},
      {"Tab\there", {}, "Tab_here"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.wanted);
    EXPECT_EQ(FreeQueueName(c.wanted, c.taken), c.name);
  }
  // A long name is cut to leave room for a number, never inside a UTF-8 character.
  const std::string longName = std::string(99, 'x') + "\xC3\xA9tude";
  const std::string cut = FreeQueueName(longName, {});
  EXPECT_EQ(cut, std::string(99, 'x'));
  EXPECT_TRUE(IsQueueName(FreeQueueName(longName, {cut, cut + "_2"})));
}

TEST(QueueNaming, DeviceUriNeedsAReadableAddress) {
  SetupDeviceIdentity device{"hub",
                             {"10.0.0.2", "00:1C:F0:AA:0B:01", "04F9", "0042", "S 1/2"},
                             "PRINTER",
                             "Lumen",
                             "Laser"};
  EXPECT_EQ(DeviceQueueUri(device), "tessaro://00-1C-F0-AA-0B-01/04F9/0042?serial=S%201%2F2");
  device.key.serverMac = "not a mac";
  EXPECT_EQ(DeviceQueueUri(device), "");
  device.key.serverMac = "00:1C:F0:AA:0B:01";
  for (const char* vendorId : {"zz", "12345", "", "4F9 "}) {
    device.key.vendorId = vendorId;
    EXPECT_EQ(DeviceQueueUri(device), "") << vendorId;
  }
}

}  // namespace
