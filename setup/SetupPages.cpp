// SPDX-License-Identifier: GPL-2.0-or-later
#include "setup/SetupPages.h"

#include <algorithm>

#include "base/AsciiText.h"
#include "setup/SetupTexts.h"

namespace tessaro::setup {
namespace {

PageLook InstallLook(bool scannerLike) {
  return {scannerLike ? "Please verify the scanner software status."
                      : "Please verify the printer software or MFP utility status.",
          ButtonMode::NextCancel};
}

PageLook CdRomLook(bool scannerLike) {
  return {scannerLike ? "Insert the scanner software CD into your CD-ROM."
                      : "Insert the printer software / MFP utility CD into your CD-ROM.",
          ButtonMode::Next};
}

PageLook ConnectScannerLook(const LookContext& context) {
  const bool next = context.installing && context.olderWindows;
  return {"Scanner Connect Status", next ? ButtonMode::Next : ButtonMode::Ok};
}

PageLook ConnectLook(const LookContext& context) {
  return {context.mfp ? "MFP Connect Status" : "Printer Connect Status", ButtonMode::Next};
}

PageLook AutoScanLook(bool scannerLike) {
  if (scannerLike) return {"Setting the scanner", ButtonMode::Ok};
  return {"Setting the scanner function for MFP / Printer", ButtonMode::Next};
}

// The troubleshooting page closes with its own button; OK belongs to its options.
PageLook TroubleLook(const LookContext& context) {
  if (context.unknownDevice) return {text::kTroubleUnknownTitle, ButtonMode::Close};
  if (context.scannerLike) return {text::kTroubleScannerTitle, ButtonMode::Close};
  return {text::kTroublePrinterTitle, ButtonMode::Close};
}

}  // namespace

bool IsScannerLike(const std::string& typeWord) {
  const std::string upper = UpperAsciiText(typeWord);
  return upper == "UNKNOWN" || upper == "SCANNER";
}

bool IsMfp(const std::string& typeWord) { return UpperAsciiText(typeWord) == "MFP"; }

PageLook LookOf(SetupPage page, const LookContext& context) {
  switch (page) {
    case SetupPage::Install: return InstallLook(context.scannerLike);
    case SetupPage::CdRom: return CdRomLook(context.scannerLike);
    case SetupPage::Connect: return ConnectLook(context);
    case SetupPage::ConnectScanner: return ConnectScannerLook(context);
    case SetupPage::AutoScan: return AutoScanLook(context.scannerLike);
    case SetupPage::AutoPrint:
      return {"Auto Connect the Printer / MFP issue the jobs.", ButtonMode::Ok};
    case SetupPage::Trouble: return TroubleLook(context);
  }
  return {};
}

NextAction NextFrom(SetupPage page, const NextContext& context) {
  const bool yesOnOlder = context.yesChecked && context.olderWindows;
  switch (page) {
    case SetupPage::Install:
      return context.yesChecked ? NextAction::ShowCdRom : NextAction::ConnectNotInstalling;
    case SetupPage::CdRom: return NextAction::ConnectInstalling;
    case SetupPage::Connect:
      return yesOnOlder ? NextAction::ShowAutoScan : NextAction::ShowAutoPrint;
    case SetupPage::ConnectScanner:
      return yesOnOlder ? NextAction::ShowAutoScan : NextAction::FinishConnectScanner;
    case SetupPage::AutoScan: return NextAction::FinishAutoScan;
    case SetupPage::AutoPrint: return NextAction::FinishAutoPrint;
    case SetupPage::Trouble:
      if (context.scannerTypeWord && context.scannerChanged) return NextAction::EndOk;
      if (context.printerChanged) return NextAction::ApplyMonitorsThenOk;
      return NextAction::Cancel;
  }
  return NextAction::Cancel;
}

ScanChoice FinishConnectScanner(bool olderWindows, const std::string& checkedSource) {
  if (!olderWindows) return {1, "", true};
  return {1, checkedSource, !checkedSource.empty()};
}

ScanChoice FinishAutoScan(bool scannerLike, bool supportScanChecked,
                          const std::string& checkedSource) {
  const int scanIndex = supportScanChecked ? 1 : 0;
  return {scanIndex, checkedSource, scannerLike && !checkedSource.empty()};
}

}  // namespace tessaro::setup
