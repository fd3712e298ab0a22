// SPDX-License-Identifier: GPL-2.0-or-later
// Tells the service manager that started busd how it is doing, when one did (NOTIFY_SOCKET).
#pragma once

#include <string>

#include "base/Result.h"

namespace tessaro::busd {

// Sends `state` (e.g. "READY=1") as one datagram to `socketPath`: a file path, or an abstract
// name written with a leading '@'. An empty path means no service manager waits: nothing is sent
// and that is no failure. Fails when the message could not be sent.
Result<> NotifyServiceManager(const std::string& socketPath, const std::string& state);

}  // namespace tessaro::busd
