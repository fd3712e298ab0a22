// SPDX-License-Identifier: GPL-2.0-or-later
#include "setup/WizardState.h"

#include "setup/SetupEntries.h"

namespace tessaro::setup {
namespace {

void TakeScanChoice(WizardState& state, const OpeningInput& input) {
  state.scanIndex = 0;
  state.scanName.clear();
  if (input.entry) {
    state.scanIndex = input.entry->ScanIndex;
    state.scanName = input.entry->ScanNameTwain;
  }
  // Later systems reach the scanner by its own name rather than a chosen data source.
  if (!input.olderWindows) state.scanName = input.displayName;
}

}  // namespace

void StartPrinterRun(WizardState& state, const OpeningInput& input, int autoPrinterCount,
                     int autoPrinterIndex) {
  state.printerMode = true;
  state.startCount = autoPrinterCount;
  state.entryIndex = autoPrinterIndex;
  state.printerEnabled = false;
  state.replacedIndex = -1;
  TakeScanChoice(state, input);
  state.setUp = PrinterIsSetUp(input.entry);
}

void StartScannerRun(WizardState& state, const OpeningInput& input) {
  TakeScanChoice(state, input);
  state.setUp = ScannerIsSetUp(input.entry);
}

}  // namespace tessaro::setup
