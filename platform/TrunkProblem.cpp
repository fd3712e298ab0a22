// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/TrunkProblem.h"

namespace tessaro {

std::string TrunkProblemText(TrunkProblem problem, const std::string& userName) {
  const std::string user = userName.empty() ? std::string("USER") : userName;
  switch (problem) {
    case TrunkProblem::NotRunning:
      return "The bus daemon tessaro-busd is not running. Next step: systemctl status "
             "tessaro-busd";
    case TrunkProblem::NoAccess:
      return "The user " + user + " is not in the group " + kBusGroup +
             ", which may use the bus daemon. Add it with: sudo usermod -aG " + kBusGroup + " " +
             user + " (then log in again).";
    case TrunkProblem::Unknown: break;
  }
  return "";
}

}  // namespace tessaro
