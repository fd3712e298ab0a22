// SPDX-License-Identifier: GPL-2.0-or-later
// Whole runs of the wizard: the pages each kind of device walks through, what the buttons do
// on the way, and what a run leaves for its owner to store.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "setup/SetupTexts.h"
#include "setup/SetupWizard.h"
#include "tests/setup/WizardFakes.h"

namespace tessaro::setup {
namespace {

// One step of a flow: an action, then the page and buttons it must lead to.
enum class Act { None, Yes, Next, CheckAcme, UncheckSupportScan, CheckScanner };

struct Step {
  Act act;
  SetupPage page;
  ButtonMode mode;
};

struct Flow {
  const char* name;
  const char* type;
  bool older;
  std::vector<Step> steps;
  RunEnd end;
  int scanIndex;
};

void Do(Rig& rig, Act act) {
  switch (act) {
    case Act::None: break;
    case Act::Yes: rig.wizard.SetInstallYes(true); break;
    case Act::Next: rig.wizard.Next(); break;
    case Act::CheckAcme: rig.wizard.ClickPrinterRow(rig.RowNamed("Acme Laser")); break;
    case Act::UncheckSupportScan: rig.wizard.SetSupportScan(false); break;
    case Act::CheckScanner: rig.wizard.ClickScannerRow(0); break;
  }
}

TEST(SetupWizard, EachKindOfDeviceWalksItsPages) {
  using P = SetupPage;
  using B = ButtonMode;
  const std::vector<Flow> flows = {
      {"printer, later system",
       "PRINTER",
       false,
       {{Act::None, P::Install, B::NextCancel},
        {Act::Next, P::Connect, B::Next},
        {Act::Next, P::AutoPrint, B::Ok},
        {Act::CheckAcme, P::AutoPrint, B::Ok},
        {Act::Next, P::AutoPrint, B::Ok}},
       RunEnd::Ok,
       0},
      {"printer installing on an older system",
       "PRINTER",
       true,
       {{Act::Yes, P::Install, B::NextCancel},
        {Act::Next, P::CdRom, B::Next},
        {Act::Next, P::Connect, B::Next},
        {Act::Next, P::AutoScan, B::Next},
        {Act::CheckScanner, P::AutoScan, B::Next},
        {Act::Next, P::AutoPrint, B::Ok},
        {Act::CheckAcme, P::AutoPrint, B::Ok},
        {Act::Next, P::AutoPrint, B::Ok}},
       RunEnd::Ok,
       0},
      {"MFP, later system",
       "MFP",
       false,
       {{Act::Next, P::Connect, B::Next},
        {Act::UncheckSupportScan, P::Connect, B::Next},  // hidden and checked for an MFP
        {Act::Next, P::AutoPrint, B::Ok},
        {Act::CheckAcme, P::AutoPrint, B::Ok},
        {Act::Next, P::AutoPrint, B::Ok}},
       RunEnd::Ok,
       1},
      {"scanner, later system",
       "SCANNER",
       false,
       {{Act::Next, P::ConnectScanner, B::Ok}, {Act::Next, P::ConnectScanner, B::Ok}},
       RunEnd::Ok,
       1},
      {"scanner installing on an older system, source chosen",
       "Scanner",
       true,
       {{Act::Yes, P::Install, B::NextCancel},
        {Act::Next, P::CdRom, B::Next},
        {Act::Next, P::ConnectScanner, B::Next},
        {Act::Next, P::AutoScan, B::Ok},
        {Act::CheckScanner, P::AutoScan, B::Ok},
        {Act::Next, P::AutoScan, B::Ok}},
       RunEnd::Ok,
       1},
      {"unknown device on an older system, no source chosen",
       "UNKNOWN",
       true,
       {{Act::Next, P::ConnectScanner, B::Ok}, {Act::Next, P::ConnectScanner, B::Ok}},
       RunEnd::Cancel,
       1},
  };
  for (const Flow& flow : flows) {
    SCOPED_TRACE(flow.name);
    Rig rig;
    const SetupDevice device = DeviceOfType(flow.type);
    if (IsScannerLike(flow.type)) {
      rig.wizard.StartScannerRun(device, {std::nullopt, device.displayName, flow.older},
                                 MakerLists());
    } else {
      rig.wizard.StartPrinterRun(device, {std::nullopt, device.displayName, flow.older},
                                 MakerLists(), -1);
    }
    for (const Step& step : flow.steps) {
      Do(rig, step.act);
      EXPECT_EQ(rig.wizard.page(), step.page) << "after act " << static_cast<int>(step.act);
      EXPECT_EQ(rig.wizard.look().mode, step.mode);
    }
    EXPECT_EQ(rig.wizard.end(), flow.end);
    EXPECT_EQ(rig.wizard.state().scanIndex, flow.scanIndex);
    EXPECT_EQ(rig.device.links, 1);
  }
}

// A bound printer: the device's entry holds "Acme Laser" and another device holds "Acme Photo".
struct BoundRig : Rig {
  SetupDevice printer = DeviceOfType("PRINTER");
  void Start(bool olderSystem = false) {
    SetupLists lists = MakerLists();
    lists.printers = {{"Acme Photo", "usb://Acme/Photo"}, {"Acme Laser", "tessaro://x"}};
    AutoConnectInfo entry;
    entry.PrinterEnable = 1;
    entry.PrinterName = "Acme Laser";
    entry.ScanIndex = 1;
    wizard.StartPrinterRun(printer, {entry, printer.displayName, olderSystem}, lists, 1);
  }
};

TEST(SetupWizard, SetUpPrinterOpensOnTroubleshootingWithItsChoiceOnTop) {
  BoundRig rig;
  rig.Start();
  ASSERT_EQ(rig.wizard.page(), SetupPage::Trouble);
  EXPECT_EQ(rig.wizard.look().title, "Printer && MFP TroubleShooting");
  EXPECT_EQ(rig.wizard.look().mode, ButtonMode::Close);
  EXPECT_FALSE(rig.wizard.troubleOkShown());
  const auto& rows = rig.wizard.printerRows();
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0].name, "Acme Laser");
  EXPECT_EQ(rows[0].state, RowState::Checked);
  EXPECT_EQ(rows[1].name, "Generic Printer");
  EXPECT_EQ(rows[2].name, "Acme Photo");  // another device's printer: marked, still choosable
  EXPECT_EQ(rows[2].mark, kMarkSameKindTaken);
  EXPECT_EQ(rows[2].state, RowState::Unchecked);
  EXPECT_EQ(PrinterRowTip(rows[2].mark), text::kTipSameKindTaken);
  EXPECT_EQ(rows[3].state, RowState::Unavailable);  // FILE:
  EXPECT_EQ(PrinterRowTip(rows[3].mark), text::kTipUnsuitablePort);
  EXPECT_EQ(rows[4].state, RowState::Unavailable);  // another maker's driver
  EXPECT_EQ(PrinterRowTip(rows[4].mark), text::kTipOtherMaker);
  rig.wizard.ClickPrinterRow(4);
  EXPECT_EQ(rows[0].state, RowState::Checked);
  rig.wizard.ClickPrinterRow(1);
  rig.wizard.ClickPrinterRow(1);  // two clicks on one row leave none checked
  EXPECT_EQ(rows[0].state, RowState::Unchecked);
  EXPECT_EQ(rows[1].state, RowState::Unchecked);
  // Nothing changed: Close cancels.
  rig.wizard.Next();
  EXPECT_EQ(rig.wizard.end(), RunEnd::Cancel);
  EXPECT_EQ(rig.device.links, 0);  // a later system keeps a set-up device as it is
}

TEST(SetupWizard, TroubleshootingMovesSwitchesOffOrKeepsTheBinding) {
  {
    SCOPED_TRACE("unchecking every row switches auto-connect off");
    BoundRig rig;
    rig.Start();
    rig.wizard.ChooseTroubleOption(2);
    EXPECT_TRUE(rig.wizard.troubleOkShown());
    rig.wizard.ClickPrinterRow(0);
    rig.wizard.TroubleOk();
    EXPECT_EQ(rig.dialogs.shown.back(),
              std::string("note: ") + text::kAutoConnectCanceled + "Acme - Laser 1");
    EXPECT_TRUE(rig.wizard.state().printerChanged);
    EXPECT_FALSE(rig.wizard.state().printerEnabled);
    rig.wizard.Next();
    EXPECT_EQ(rig.wizard.end(), RunEnd::Ok);
  }
  {
    SCOPED_TRACE("another device's printer moves the binding");
    BoundRig rig;
    rig.Start();
    rig.wizard.ChooseTroubleOption(2);
    rig.wizard.ClickPrinterRow(rig.RowNamed("Acme Photo"));
    rig.wizard.TroubleOk();
    EXPECT_EQ(rig.wizard.state().replacedIndex, 0);
    EXPECT_EQ(rig.wizard.lists().printers[1].printerName, "Acme Photo");
    EXPECT_EQ(rig.dialogs.shown.back(),
              std::string("note: ") + text::kDirectPrint + "Acme - Laser 1");
  }
  {
    SCOPED_TRACE("declining a not-recommended driver claims no success");
    BoundRig rig;
    rig.Start();
    rig.wizard.ChooseTroubleOption(2);
    rig.dialogs.answers = {false};
    rig.wizard.ClickPrinterRow(rig.RowNamed("Generic Printer"));
    rig.wizard.TroubleOk();
    EXPECT_EQ(rig.dialogs.shown.back(), std::string("ask: ") + kNotRecommendedQuestion);
    EXPECT_FALSE(rig.wizard.state().printerChanged);
    EXPECT_EQ(rig.wizard.lists().printers[1].printerName, "Acme Laser");
  }
}

TEST(SetupWizard, ScannerChangeOnAPrinterIsKeptWithoutAPrinterChange) {
  BoundRig rig;
  rig.Start();
  rig.wizard.ChooseTroubleOption(3);
  ASSERT_EQ(rig.wizard.scannerRows().size(), 1u);
  EXPECT_TRUE(rig.wizard.scannerRows()[0].checked);
  rig.wizard.ClickScannerRow(0);
  rig.wizard.TroubleOk();
  EXPECT_EQ(rig.dialogs.shown.back(), std::string("note: ") + text::kScannerRemoved);
  EXPECT_EQ(rig.wizard.state().scanIndex, 0);
  rig.wizard.Next();
  // Close cancels the printer part; the owner still stores the scan choice.
  EXPECT_EQ(rig.wizard.end(), RunEnd::Cancel);
  EXPECT_TRUE(rig.wizard.state().scannerChanged);
}

TEST(SetupWizard, AutoPrintAsksBeforeLeavingWithoutAChoice) {
  const struct {
    const char* name;
    bool rechooseOwn;
    bool answer;
    RunEnd end;
  } cases[] = {
      {"nothing checked, stay", false, false, RunEnd::Running},
      {"nothing checked, leave", false, true, RunEnd::Cancel},
      {"bound printer chosen again counts as no choice", true, false, RunEnd::Running},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    const SetupDevice device = DeviceOfType("PRINTER");
    SetupLists lists = MakerLists();
    int entryIndex = -1;
    if (c.rechooseOwn) {
      lists.printers = {{"Acme Laser", "tessaro://x"}};
      entryIndex = 0;
    }
    rig.wizard.StartPrinterRun(device, {std::nullopt, device.displayName, false}, lists,
                               entryIndex);
    rig.wizard.Next();
    rig.wizard.Next();
    ASSERT_EQ(rig.wizard.page(), SetupPage::AutoPrint);
    rig.dialogs.answers = {c.answer};
    rig.wizard.Next();
    EXPECT_EQ(rig.dialogs.shown.back(), std::string("ask: ") + kNoPrinterChosenQuestion);
    EXPECT_EQ(rig.wizard.end(), c.end);
  }
}

TEST(SetupWizard, BadTurnsKeepThePageWithAMessage) {
  {
    SCOPED_TRACE("the device is taken by another PC");
    Rig rig;
    rig.device.linkOk = false;
    const SetupDevice device = DeviceOfType("PRINTER");
    rig.wizard.StartPrinterRun(device, {std::nullopt, device.displayName, false}, MakerLists(), -1);
    rig.wizard.Next();
    EXPECT_EQ(rig.wizard.page(), SetupPage::Install);
    EXPECT_EQ(rig.dialogs.shown.back(), std::string("error: ") + kLinkFailedText);
    EXPECT_EQ(rig.wizard.end(), RunEnd::Running);
  }
  {
    SCOPED_TRACE("the chosen queue was deleted meanwhile");
    Rig rig;
    const SetupDevice device = DeviceOfType("PRINTER");
    rig.wizard.StartPrinterRun(device, {std::nullopt, device.displayName, false}, MakerLists(), -1);
    rig.wizard.Next();
    rig.wizard.Next();
    rig.wizard.ClickPrinterRow(rig.RowNamed("Acme Laser"));
    rig.sources.printers.erase(rig.sources.printers.begin());
    rig.wizard.Next();
    EXPECT_EQ(rig.dialogs.shown.back(), std::string("error: ") + text::kQueueGone);
    EXPECT_EQ(rig.wizard.end(), RunEnd::Running);
    EXPECT_EQ(rig.RowNamed("Acme Laser"), rig.wizard.printerRows().size());
    EXPECT_TRUE(rig.wizard.lists().printers.empty());
  }
}

TEST(SetupWizard, AddedQueueIsListedAndPreselected) {
  Rig rig;
  rig.sources.printers.clear();
  const SetupDevice device = DeviceOfType("PRINTER");
  rig.wizard.StartPrinterRun(device, {std::nullopt, device.displayName, false}, MakerLists(), -1);
  ASSERT_EQ(rig.wizard.AddPrintQueue(), "Acme_Laser 1");
  rig.wizard.Next();
  rig.wizard.Next();
  ASSERT_EQ(rig.wizard.printerRows().size(), 1u);
  EXPECT_EQ(rig.wizard.printerRows()[0].state, RowState::Checked);
  rig.wizard.Next();
  EXPECT_EQ(rig.wizard.end(), RunEnd::Ok);
  EXPECT_EQ(rig.wizard.lists().printers.at(0).printerName, "Acme_Laser 1");

  Rig nameless;
  SetupDevice unnamed = DeviceOfType("PRINTER");
  unnamed.identity.manufacturer.clear();
  nameless.wizard.StartPrinterRun(unnamed, {std::nullopt, "USB Device", false}, MakerLists(), -1);
  EXPECT_FALSE(nameless.wizard.AddPrintQueue());
  EXPECT_EQ(nameless.dialogs.shown.back(), "error: no maker");
}

}  // namespace
}  // namespace tessaro::setup
