// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/support/SanedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <sstream>

#include "tests/support/SaneTestBackend.h"

namespace tessaro::testing {
namespace {

constexpr uint16_t kSanePort = 6566;

bool Listens(const std::string& address) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(kSanePort);
  inet_pton(AF_INET, address.c_str(), &to.sin_addr);
  const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
  close(fd);
  return connected;
}

}  // namespace

SanedServer::SanedServer(std::string address, int devices)
    : address_(std::move(address)), devices_(devices), serverDir_(dir_ / "server"),
      clientDir_(dir_ / "client") {
  mkdir(serverDir_.c_str(), 0700);
  mkdir(clientDir_.c_str(), 0700);
  WriteTextFile(serverDir_ + "/dll.conf", "test\n");
  WriteTextFile(serverDir_ + "/test.conf", SaneTestBackendConfig(devices));
  WriteTextFile(serverDir_ + "/saned.conf", "127.0.0.0/8\n");
  WriteTextFile(clientDir_ + "/dll.conf", "net\n");
  // A short timeout so that a PC whose server went away hears so within the test's time.
  WriteTextFile(clientDir_ + "/net.conf", "connect_timeout = 3\n" + address_ + "\n");
}

SanedServer::~SanedServer() = default;

void SanedServer::SetReadDelay(int microseconds) {
  WriteTextFile(serverDir_ + "/test.conf", SaneTestBackendConfig(devices_, microseconds));
}

bool SanedServer::Start() {
  saned_ = std::make_unique<Process>(
      "/usr/sbin/saned",
      std::vector<std::string>{"-l", "-d1", "-b", address_, "-p", std::to_string(kSanePort)},
      std::map<std::string, std::string>{{"SANE_CONFIG_DIR", serverDir_}});
  if (!saned_->Start()) return false;
  return Eventually([&] { return !saned_->Running() || Listens(address_); },
                    std::chrono::seconds(10)) &&
         saned_->Running();
}

void SanedServer::Kill() {
  if (!saned_) return;
  // saned serves each client from a child of its own: those go first, so no page goes on.
  const std::string pid = std::to_string(saned_->pid());
  std::istringstream children(ReadTextFile("/proc/" + pid + "/task/" + pid + "/children"));
  for (pid_t child; children >> child;) kill(child, SIGKILL);
  saned_->Signal(SIGKILL);
  saned_->Stop();
}

std::string SanedServer::NetDeviceName(const std::string& serverDevice) const {
  return "net:" + address_ + ":" + serverDevice;
}

void SanedServer::UseAsClient() const { setenv("SANE_CONFIG_DIR", clientDir_.c_str(), 1); }

}  // namespace tessaro::testing
