// SPDX-License-Identifier: GPL-2.0-or-later
// Tells the service manager that started a daemon how it is doing, when one did (NOTIFY_SOCKET).
#pragma once

#include <string>

#include "base/Result.h"

namespace tessaro {

// Sends `state` (e.g. "READY=1") as one datagram to `socketPath`: a file path, or an abstract
// name written with a leading '@'. An empty path means no service manager waits: nothing is sent
// and that is no failure. Fails when the message could not be sent.
Result<> NotifyServiceManager(const std::string& socketPath, const std::string& state);

// NOTIFY_SOCKET, or empty when this process was not started by a service manager that waits.
std::string NotifySocketFromEnvironment();

// "RELOADING=1" with the CLOCK_MONOTONIC time the service manager wants beside it, so that it
// can tell this reload from an earlier one.
std::string ReloadingState();

}  // namespace tessaro
