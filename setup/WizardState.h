// SPDX-License-Identifier: GPL-2.0-or-later
// The wizard's state for one run and how each opening starts it from the stored entry.
#pragma once

#include <optional>
#include <string>

#include "records/AutoConnectRecords.h"

namespace tessaro::setup {

inline constexpr const char* kNoPrinterChosenQuestion =
    "You did not choose a printer(MFP) to auto connect.\nAre you sure you want to exit?";

struct WizardState {
  bool printerMode = false;  // set by the printer opening and kept for later runs
  int startCount = 0;
  int entryIndex = -1;
  int replacedIndex = -1;
  int makerIndex = -1;
  bool printerEnabled = false;
  bool printerChanged = false;
  bool scannerChanged = false;
  int scanIndex = 0;
  std::string scanName;
  bool setUp = false;  // decides the first page: troubleshooting when set up, else install
};

struct OpeningInput {
  std::optional<AutoConnectInfo> entry;  // the device's stored entry, if any
  std::string displayName;
  bool olderWindows = false;
};

// The printer opening: counts the printer list and takes the device's list entry.
void StartPrinterRun(WizardState& state, const OpeningInput& input, int autoPrinterCount,
                     int autoPrinterIndex);

// The scanner opening: only the scan choice is reset; the printer fields keep their values.
void StartScannerRun(WizardState& state, const OpeningInput& input);

}  // namespace tessaro::setup
