// SPDX-License-Identifier: GPL-2.0-or-later
// Preloaded into a test's child program (LD_PRELOAD) so that its IPv4 connections leave from the
// address in TESSARO_SOURCE_IP: one machine plays several PCs, each with its own address, for
// programs that cannot be told where to connect from (SANE's net backend). Tests only.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>

namespace {
using ConnectFn = int (*)(int, const sockaddr*, socklen_t);
}  // namespace

extern "C" int connect(int fd, const sockaddr* to, socklen_t length) {
  static const auto real = reinterpret_cast<ConnectFn>(dlsym(RTLD_NEXT, "connect"));
  const char* from = std::getenv("TESSARO_SOURCE_IP");
  if (from && to && to->sa_family == AF_INET) {
    sockaddr_in source{};
    source.sin_family = AF_INET;
    // A socket bound already keeps its address; the connection then shows where it came from.
    if (inet_pton(AF_INET, from, &source.sin_addr) == 1)
      (void)bind(fd, reinterpret_cast<const sockaddr*>(&source), sizeof source);
  }
  return real(fd, to, length);
}
