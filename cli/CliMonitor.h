// SPDX-License-Identifier: GPL-2.0-or-later
// monitor: the tray client's print monitors without a window, until SIGTERM or SIGINT.
#pragma once

#include <ostream>

#include "cli/CliList.h"
#include "driver/DriverClient.h"
#include "printing/MonitorActions.h"

namespace tessaro::cli {

std::string FormatMonitorAction(const MonitorAction& action, bool json);

// Runs the refresh cycle, the driver's event reader and one monitor per stored auto-connect
// entry over `trunk` until SIGTERM or SIGINT arrives, then stops the monitors as the close does
// (a queue whose device this PC does not use is parked). One line per monitor action on `out`.
int RunMonitor(const ClientEnvironment& env, BusTransport& bus, Clock& clock, BusHandle trunk,
               bool json, std::ostream& out, std::ostream& err);

}  // namespace tessaro::cli
