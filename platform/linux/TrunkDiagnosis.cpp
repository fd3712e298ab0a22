// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/linux/TrunkDiagnosis.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "protocol/BusFrame.h"

namespace tessaro {

TrunkProblem DiagnoseTrunk(const std::string& runtimeDir) {
  struct stat st {};
  if (::stat(runtimeDir.c_str(), &st) != 0) {
    return errno == EACCES ? TrunkProblem::NoAccess : TrunkProblem::NotRunning;
  }
  if (::access(runtimeDir.c_str(), X_OK) != 0) {
    return errno == EACCES ? TrunkProblem::NoAccess : TrunkProblem::Unknown;
  }
  const std::string trunks = busipc::ClassFolder(runtimeDir, true);
  if (::access(trunks.c_str(), X_OK) != 0 && errno == EACCES) return TrunkProblem::NoAccess;
  std::error_code ec;
  // A folder left behind without sockets: busd removes them when it stops.
  for (const auto& entry : std::filesystem::directory_iterator(trunks, ec)) {
    if (entry.is_socket(ec)) return TrunkProblem::Unknown;
  }
  return TrunkProblem::NotRunning;
}

std::string CurrentUserName() {
  if (const passwd* pw = ::getpwuid(::geteuid())) return pw->pw_name;
  return "";
}

}  // namespace tessaro
