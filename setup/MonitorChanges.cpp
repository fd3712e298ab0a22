// SPDX-License-Identifier: GPL-2.0-or-later
#include "setup/MonitorChanges.h"

namespace tessaro::setup {

void ApplyMonitorChanges(SetupMonitors& monitors, const WizardState& state, int listCount) {
  if (listCount == 0 || state.entryIndex < 0 || state.entryIndex >= listCount) return;
  if (state.replacedIndex >= 0 && state.replacedIndex < listCount) {
    monitors.Stop(state.replacedIndex);
  }
  if (!state.printerEnabled) {
    monitors.Stop(state.entryIndex);
    return;
  }
  // An entry that existed before the run has a monitor on its old printer.
  if (listCount == state.startCount) monitors.Stop(state.entryIndex);
  monitors.Start(state.entryIndex);
}

}  // namespace tessaro::setup
