// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/SystemdNotify.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/FileHandle.h"

namespace {

using tessaro::NotifyServiceManager;
using tessaro::UniqueFd;

// A datagram socket standing in for the service manager's, bound to `path` (abstract with '@').
UniqueFd BindManager(const std::string& path) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  if (path[0] == '@') address.sun_path[0] = '\0';
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
  EXPECT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), length), 0) << path;
  return fd;
}

std::string Received(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, 2000) != 1) return "(nothing)";
  char buffer[256];
  const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
  return n < 0 ? "(error)" : std::string(buffer, static_cast<size_t>(n));
}

TEST(SystemdNotify, ReadinessReachesAPathOrAnAbstractSocket) {
  const auto folder =
      std::filesystem::temp_directory_path() / ("busd-notify-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string paths[] = {(folder / "notify").string(),
                               "@tessaro-busd-notify-" + std::to_string(::getpid())};
  for (const std::string& path : paths) {
    UniqueFd manager = BindManager(path);
    const auto told = NotifyServiceManager(path, "READY=1");
    EXPECT_TRUE(told) << path << ": " << told.error();
    EXPECT_EQ(Received(manager.get()), "READY=1") << path;
  }
  std::filesystem::remove_all(folder);
}

TEST(SystemdNotify, NoManagerIsNoFailureAndABadOneIsReported) {
  EXPECT_TRUE(NotifyServiceManager("", "READY=1"));
  for (const std::string& path : {std::string("relative/notify"), std::string(200, '/'),
                                  std::string("/nonexistent-folder/notify")}) {
    const auto told = NotifyServiceManager(path, "READY=1");
    ASSERT_FALSE(told) << path;
    EXPECT_FALSE(told.error().empty()) << path;
  }
}

}  // namespace
