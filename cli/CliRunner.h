// SPDX-License-Identifier: GPL-2.0-or-later
// The commands of tessaro-cli over any bus transport, so tests can run them on a scripted bus.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/CliList.h"
#include "platform/BusTransport.h"
#include "platform/Clock.h"

namespace tessaro::cli {

namespace exitcode {
inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;
inline constexpr int kUsage = 2;
inline constexpr int kSetupIncomplete = 3;
inline constexpr int kNoSuchSpur = 4;
}  // namespace exitcode

inline constexpr const char* kSetupIncompleteMessage =
    "Tessaro Utility setup is incomplete!\n\nPlease reinstall again.\n";

// What `watch` writes to standard error once busd keeps every event for it.
inline constexpr const char* kWatchReadingLine = "tessaro-cli: reading events";

// Runs one command line (without the program name); returns the exit status. `env` serves the
// client operations (list); without it they fail.
int RunCli(const std::vector<std::string>& args, BusTransport& bus, Clock& clock, std::ostream& out,
           std::ostream& err, const ClientEnvironment& env = {});

}  // namespace tessaro::cli
