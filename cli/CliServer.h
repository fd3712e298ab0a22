// SPDX-License-Identifier: GPL-2.0-or-later
// server enable|disable IP: the user's server entry, written as the tray's server menu writes it,
// so that list, auto-print and monitor see the server enabled or not.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/CliArgs.h"
#include "cli/CliList.h"
#include "driver/DriverClient.h"

namespace tessaro::cli {

// The usage problem of a server command line (the words after "server"), or "".
std::string CheckServerArgs(const std::vector<std::string>& args);

// Runs it over `trunk`; returns the exit status (4 when busd lists no server at the address).
int RunServer(const CliCommand& command, const ClientEnvironment& env, DriverClient& driver,
              BusHandle trunk, std::ostream& out, std::ostream& err);

}  // namespace tessaro::cli
