// SPDX-License-Identifier: GPL-2.0-or-later
// Restarting the print monitors after the wizard changed the auto-connect printer list.
#pragma once

#include "setup/WizardState.h"

namespace tessaro::setup {

// The print monitors of the auto-connect printer list, one per entry index.
class SetupMonitors {
 public:
  virtual ~SetupMonitors() = default;
  virtual void Stop(int index) = 0;
  virtual void Start(int index) = 0;
};

void ApplyMonitorChanges(SetupMonitors& monitors, const WizardState& state, int listCount);

}  // namespace tessaro::setup
