// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/SystemdNotify.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/FileHandle.h"

namespace tessaro {

Result<> NotifyServiceManager(const std::string& socketPath, const std::string& state) {
  if (socketPath.empty()) return {};
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof address.sun_path ||
      (socketPath[0] != '/' && socketPath[0] != '@'))
    return Failure("NOTIFY_SOCKET is not a socket path: " + socketPath);
  std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
  if (socketPath[0] == '@') address.sun_path[0] = '\0';  // an abstract name
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + socketPath.size());
  UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd.valid() || ::sendto(fd.get(), state.data(), state.size(), MSG_NOSIGNAL,
                              reinterpret_cast<const sockaddr*>(&address), length) < 0)
    return Failure("cannot tell the service manager " + state + ": " + std::strerror(errno));
  return {};
}

std::string NotifySocketFromEnvironment() {
  const char* path = std::getenv("NOTIFY_SOCKET");
  return path ? path : "";
}

std::string ReloadingState() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const long long micros = static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
  return "RELOADING=1\nMONOTONIC_USEC=" + std::to_string(micros);
}

}  // namespace tessaro
