// SPDX-License-Identifier: GPL-2.0-or-later
// The setup wizard's pages, how each one looks (title and button mode) and where Next leads.
// Pure functions over the wizard's choices so the form stays a thin view.
#pragma once

#include <string>

namespace tessaro::setup {

enum class SetupPage { Install, CdRom, Connect, ConnectScanner, AutoScan, AutoPrint, Trouble };

// Cancel is shown only in NextCancel; the other modes move the one button to Cancel's place.
enum class ButtonMode { NextCancel, Next, Ok, Close };

// Scanner-like: the type word is "UNKNOWN" or "SCANNER" in any case; all others are printer-like.
bool IsScannerLike(const std::string& typeWord);
bool IsMfp(const std::string& typeWord);

struct PageLook {
  std::string title;
  ButtonMode mode = ButtonMode::NextCancel;
};

struct LookContext {
  bool scannerLike = false;
  bool mfp = false;
  bool installing = false;
  bool olderWindows = false;
  bool unknownDevice = false;  // upper-case type word is "UNKNOWN"
};

// Title and buttons of a page.
PageLook LookOf(SetupPage page, const LookContext& context);

// What pressing Next does. ConnectNotInstalling/ConnectInstalling run ConnectForSetup;
// FinishAutoScan/FinishAutoPrint/FinishConnectScanner store the choices and then end the run.
enum class NextAction {
  ConnectNotInstalling,
  ShowCdRom,
  ConnectInstalling,
  ShowAutoScan,
  ShowAutoPrint,
  FinishConnectScanner,
  FinishAutoScan,
  FinishAutoPrint,
  EndOk,
  ApplyMonitorsThenOk,
  Cancel,
};

struct NextContext {
  bool yesChecked = false;  // the page's "Yes" choice (install page: RBtn_Install1)
  bool olderWindows = false;
  bool scannerTypeWord = false;  // upper-case type word is "SCANNER"
  bool scannerChanged = false;
  bool printerChanged = false;
};

NextAction NextFrom(SetupPage page, const NextContext& context);

// The scan choice a finishing page stores and whether the run ends with OK (else cancel).
struct ScanChoice {
  int scanIndex = 0;
  std::string scanName;
  bool endsOk = false;
};

// Connect-scanner page: on older Windows a run without a chosen data source is cancelled.
ScanChoice FinishConnectScanner(bool olderWindows, const std::string& checkedSource);

// Auto-scan page: a scanner-like device without a chosen source cancels; a printer-like
// device goes on to the auto-print page (endsOk false there means "not yet ended").
ScanChoice FinishAutoScan(bool scannerLike, bool supportScanChecked,
                          const std::string& checkedSource);

}  // namespace tessaro::setup
