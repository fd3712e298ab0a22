// SPDX-License-Identifier: GPL-2.0-or-later
// auto-print add|list|remove: the auto-connect printer and fax entries of the user's hive, stored
// as the device setup stores them.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "base/Result.h"
#include "cli/CliArgs.h"
#include "cli/CliList.h"

namespace tessaro::cli {

// Checks an auto-print command line (the words after "auto-print"); fails with the usage text.
Result<> CheckAutoPrintArgs(const std::vector<std::string>& args);

// Runs it; `trunk` serves the refresh of `add`. Returns the exit status.
int RunAutoPrint(const CliCommand& command, const ClientEnvironment& env, BusTransport& bus,
                 Clock& clock, BusHandle trunk, std::ostream& out, std::ostream& err);

// Whether a printer of port type `type` can reach a device of vendor `vendorId`: the device
// setup's rule (never on local, TCP/IP, file, parallel or serial ports, a serial one only for
// vendor 08A6, nor without a known type), and never on a LAN Manager port, which the print
// monitor refuses.
bool PortTypeBindable(std::optional<int32_t> type, const std::string& vendorId);

}  // namespace tessaro::cli
