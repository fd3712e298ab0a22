// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/ComputerName.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>

namespace tessaro {

namespace {
constexpr size_t kMaxComputerName = 63;
}

std::string ComputerNameFrom(const char* override, const std::string& hostName) {
  std::string name;
  if (override != nullptr) {
    name = override;
  } else {
    name = hostName.substr(0, hostName.find('.'));
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  if (name.size() > kMaxComputerName) name.resize(kMaxComputerName);
  return name;
}

std::string ComputerName() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  return ComputerNameFrom(std::getenv("TESSARO_COMPUTERNAME"), host);
}

}  // namespace tessaro
