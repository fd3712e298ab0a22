// SPDX-License-Identifier: GPL-2.0-or-later
// The setup wizard's page flows: where Next leads and how each page looks on the way.
#include <gtest/gtest.h>

#include <vector>

#include "setup/SetupPages.h"

namespace tessaro::setup {
namespace {

struct Step {
  SetupPage page;
  NextContext context;
  NextAction expected;
};

struct Flow {
  const char* name;
  std::vector<Step> steps;
};

// Each flow walks one kind of device through the wizard, set up or not, older Windows or not.
TEST(SetupPages, NextLeadsAlongEachFlow) {
  const NextContext no{};
  const NextContext yes{.yesChecked = true};
  const NextContext yesOlder{.yesChecked = true, .olderWindows = true};
  const std::vector<Flow> flows = {
      {"printer, no install, later Windows",
       {{SetupPage::Install, no, NextAction::ConnectNotInstalling},
        {SetupPage::Connect, yes, NextAction::ShowAutoPrint},
        {SetupPage::AutoPrint, no, NextAction::FinishAutoPrint}}},
      {"MFP, install from disc, older Windows",
       {{SetupPage::Install, yes, NextAction::ShowCdRom},
        {SetupPage::CdRom, no, NextAction::ConnectInstalling},
        {SetupPage::Connect, yesOlder, NextAction::ShowAutoScan},
        {SetupPage::AutoScan, no, NextAction::FinishAutoScan}}},
      {"scanner, older Windows",
       {{SetupPage::Install, no, NextAction::ConnectNotInstalling},
        {SetupPage::ConnectScanner, yesOlder, NextAction::ShowAutoScan}}},
      {"unknown device, later Windows",
       {{SetupPage::Install, no, NextAction::ConnectNotInstalling},
        {SetupPage::ConnectScanner, yes, NextAction::FinishConnectScanner}}},
      {"set-up scanner, recognition changed",
       {{SetupPage::Trouble,
         {.scannerTypeWord = true, .scannerChanged = true},
         NextAction::EndOk}}},
      {"set-up scanner unchanged, printer choice accepted",
       {{SetupPage::Trouble,
         {.scannerTypeWord = true, .printerChanged = true},
         NextAction::ApplyMonitorsThenOk}}},
      {"set-up printer, new printer chosen",
       {{SetupPage::Trouble, {.printerChanged = true}, NextAction::ApplyMonitorsThenOk}}},
      {"set-up printer, nothing changed",
       {{SetupPage::Trouble, {.scannerChanged = true}, NextAction::Cancel}}},
  };
  for (const Flow& flow : flows) {
    SCOPED_TRACE(flow.name);
    for (const Step& step : flow.steps) {
      EXPECT_EQ(NextFrom(step.page, step.context), step.expected)
          << "page " << static_cast<int>(step.page);
    }
  }
}

TEST(SetupPages, PagesShowTheirTitleAndButtons) {
  struct Case {
    SetupPage page;
    LookContext context;
    const char* title;
    ButtonMode mode;
  };
  const LookContext printer{};
  const LookContext scanner{.scannerLike = true};
  const std::vector<Case> cases = {
      {SetupPage::Install, printer, "Please verify the printer software or MFP utility status.",
       ButtonMode::NextCancel},
      {SetupPage::Install, scanner, "Please verify the scanner software status.",
       ButtonMode::NextCancel},
      {SetupPage::CdRom, printer, "Insert the printer software / MFP utility CD into your CD-ROM.",
       ButtonMode::Next},
      {SetupPage::CdRom, scanner, "Insert the scanner software CD into your CD-ROM.",
       ButtonMode::Next},
      {SetupPage::Connect, printer, "Printer Connect Status", ButtonMode::Next},
      {SetupPage::Connect, {.mfp = true}, "MFP Connect Status", ButtonMode::Next},
      {SetupPage::ConnectScanner, scanner, "Scanner Connect Status", ButtonMode::Ok},
      {SetupPage::ConnectScanner,
       {.scannerLike = true, .installing = true},
       "Scanner Connect Status",
       ButtonMode::Ok},
      {SetupPage::ConnectScanner,
       {.scannerLike = true, .installing = true, .olderWindows = true},
       "Scanner Connect Status",
       ButtonMode::Next},
      {SetupPage::AutoScan, scanner, "Setting the scanner", ButtonMode::Ok},
      {SetupPage::AutoScan, printer, "Setting the scanner function for MFP / Printer",
       ButtonMode::Next},
      {SetupPage::AutoPrint, printer, "Auto Connect the Printer / MFP issue the jobs.",
       ButtonMode::Ok},
      {SetupPage::Trouble, printer, "Printer && MFP TroubleShooting", ButtonMode::Close},
      {SetupPage::Trouble, scanner, "Scanner TroubleShooting", ButtonMode::Close},
      {SetupPage::Trouble,
       {.scannerLike = true, .unknownDevice = true},
       "USB Device TroubleShooting",
       ButtonMode::Close},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    const PageLook look = LookOf(c.page, c.context);
    EXPECT_EQ(look.title, c.title);
    EXPECT_EQ(look.mode, c.mode);
  }
}

TEST(SetupPages, DeviceKindsFollowTheTypeWordInAnyCase) {
  EXPECT_TRUE(IsScannerLike("Unknown"));
  EXPECT_TRUE(IsScannerLike("SCANNER"));
  EXPECT_FALSE(IsScannerLike("PRINTER"));
  EXPECT_FALSE(IsScannerLike("MFP"));
  EXPECT_TRUE(IsMfp("mfp"));
  EXPECT_FALSE(IsMfp("PRINTER"));
}

TEST(SetupPages, FinishingPagesStoreTheScanChoice) {
  const ScanChoice later = FinishConnectScanner(false, "ignored");
  EXPECT_EQ(later.scanIndex, 1);
  EXPECT_EQ(later.scanName, "");
  EXPECT_TRUE(later.endsOk);

  EXPECT_FALSE(FinishConnectScanner(true, "").endsOk);
  const ScanChoice older = FinishConnectScanner(true, "Flatbed A4");
  EXPECT_EQ(older.scanName, "Flatbed A4");
  EXPECT_TRUE(older.endsOk);

  EXPECT_FALSE(FinishAutoScan(true, false, "").endsOk);
  const ScanChoice scannerDone = FinishAutoScan(true, true, "Flatbed A4");
  EXPECT_EQ(scannerDone.scanIndex, 1);
  EXPECT_TRUE(scannerDone.endsOk);
  const ScanChoice printerOn = FinishAutoScan(false, false, "Flatbed A4");
  EXPECT_EQ(printerOn.scanIndex, 0);
  EXPECT_FALSE(printerOn.endsOk);
}

}  // namespace
}  // namespace tessaro::setup
