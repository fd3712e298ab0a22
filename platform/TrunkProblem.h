// SPDX-License-Identifier: GPL-2.0-or-later
// Why no Trunk interface could be opened, and what the user is told to do about it. The setup
// message says that setup is incomplete; these lines say the cause and the next step.
#pragma once

#include <string>

namespace tessaro {

enum class TrunkProblem {
  Unknown,     // nothing more is known: only the setup message is shown
  NotRunning,  // busd's folder or sockets are missing: the service does not run
  NoAccess,    // the folder is there, but only its group may enter it
};

// The group whose members may use the bus daemon's sockets (the package's busd runs with it).
inline constexpr const char* kBusGroup = "tessaro";

// The line added below the setup message, or "" for Unknown.
std::string TrunkProblemText(TrunkProblem problem, const std::string& userName);

}  // namespace tessaro
