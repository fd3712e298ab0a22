// SPDX-License-Identifier: GPL-2.0-or-later
// How the two openings start a run from the stored entry.
#include <gtest/gtest.h>

#include "setup/WizardState.h"

namespace tessaro::setup {
namespace {

AutoConnectInfo Entry(uint8_t enabled, int scanIndex) {
  AutoConnectInfo entry;
  entry.PrinterName = "Office Laser";
  entry.PrinterEnable = enabled;
  entry.ScanIndex = scanIndex;
  entry.ScanNameTwain = "Flatbed";
  return entry;
}

TEST(WizardState, OpeningsStartFromTheStoredEntry) {
  struct Case {
    const char* name;
    bool printer;
    std::optional<AutoConnectInfo> entry;
    bool olderWindows;
    bool setUp;
    int scanIndex;
    const char* scanName;
  };
  const std::vector<Case> cases = {
      {"printer, no entry", true, std::nullopt, true, false, 0, ""},
      {"printer switched off, older", true, Entry(0, 1), true, false, 1, "Flatbed"},
      {"printer set up, later", true, Entry(1, 0), false, true, 0, "Scanner One"},
      {"scanner not recognised", false, Entry(1, 2), true, false, 2, "Flatbed"},
      {"scanner recognised, later", false, Entry(0, 1), false, true, 1, "Scanner One"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WizardState state;
    state.scanName = "left over";
    state.replacedIndex = 4;
    const OpeningInput input{c.entry, "Scanner One", c.olderWindows};
    if (c.printer) {
      StartPrinterRun(state, input, 3, 1);
      EXPECT_TRUE(state.printerMode);
      EXPECT_EQ(state.startCount, 3);
      EXPECT_EQ(state.entryIndex, 1);
      EXPECT_EQ(state.replacedIndex, -1);
    } else {
      StartScannerRun(state, input);
      EXPECT_FALSE(state.printerMode);
    }
    EXPECT_EQ(state.setUp, c.setUp);
    EXPECT_EQ(state.scanIndex, c.scanIndex);
    EXPECT_EQ(state.scanName, c.scanName);
  }
}

}  // namespace
}  // namespace tessaro::setup
