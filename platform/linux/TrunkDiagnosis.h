// SPDX-License-Identifier: GPL-2.0-or-later
// Looks at busd's runtime folder to say why no Trunk interface opened.
#pragma once

#include <string>

#include "platform/TrunkProblem.h"

namespace tessaro {

// NotRunning when the folder or its Trunk sockets are missing, NoAccess when this process may not
// enter it; Unknown otherwise.
TrunkProblem DiagnoseTrunk(const std::string& runtimeDir);

// The login name of this process's user, or "" when it has none.
std::string CurrentUserName();

}  // namespace tessaro
