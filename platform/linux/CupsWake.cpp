// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/linux/CupsWake.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>

namespace tessaro {
namespace {

constexpr size_t kLongestName = 64;

bool IsWakeName(const std::string& name) {
  return !name.empty() && name.size() <= kLongestName &&
         std::all_of(name.begin(), name.end(), [](char c) {
           return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-';
         });
}

// The address of abstract socket `name`, which the kernel keeps per network namespace.
socklen_t AddressOf(const std::string& name, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

}  // namespace

std::optional<std::string> WakeNameOfRecipient(const std::string& uri) {
  const std::string prefix = std::string(kWakeScheme) + ":/";
  if (uri.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  const std::string name = uri.substr(prefix.size());
  if (!IsWakeName(name)) return std::nullopt;
  return name;
}

std::string RecipientOfWakeName(const std::string& name) {
  return std::string(kWakeScheme) + ":/" + name;
}

UniqueFd OpenWakeSocket(std::string& name) {
  static std::atomic<unsigned> opened{0};
  UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.valid()) return fd;
  // The process and a count tell the names of one machine apart; the clock those of a process
  // that came back with the same number.
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  name = "tessaro-cups-wake-" + std::to_string(::getpid()) + "-" + std::to_string(++opened) + "-" +
         std::to_string(now % 1000000007);
  sockaddr_un address{};
  const socklen_t length = AddressOf(name, address);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), length) != 0) fd.Reset();
  return fd;
}

bool SendWake(int fd, const std::string& name) {
  if (!IsWakeName(name)) return false;
  sockaddr_un address{};
  const socklen_t length = AddressOf(name, address);
  return ::sendto(fd, "", 0, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&address),
                  length) == 0;
}

bool DrainWakes(int fd) {
  bool any = false;
  char byte = 0;
  while (::recv(fd, &byte, sizeof byte, MSG_DONTWAIT) >= 0) any = true;
  return any;
}

}  // namespace tessaro
