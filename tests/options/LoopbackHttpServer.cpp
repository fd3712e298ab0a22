// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/options/LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace tessaro::testing {
namespace {

void SendAll(int fd, const std::string& data) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;  // the client gave up; nothing to tell
    sent += static_cast<std::size_t>(n);
  }
}

const char* Reason(int status) { return status == 200 ? "OK" : "Not Found"; }

}  // namespace

LoopbackHttpServer::LoopbackHttpServer() {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener_, 8) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("no loopback listener");
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
  stop_ = true;
  thread_.join();
  close(listener_);
}

void LoopbackHttpServer::Script(ScriptedReply reply) {
  std::lock_guard lock(mutex_);
  reply_ = std::move(reply);
}

std::vector<std::string> LoopbackHttpServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void LoopbackHttpServer::Serve() {
  while (!stop_) {
    pollfd waiting{listener_, POLLIN, 0};
    if (poll(&waiting, 1, 50) <= 0) continue;
    const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    Answer(connection);
    close(connection);
  }
}

void LoopbackHttpServer::Answer(int connection) {
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
    pollfd readable{connection, POLLIN, 0};
    if (poll(&readable, 1, 2000) <= 0) return;
    const ssize_t n = recv(connection, buffer, sizeof buffer, 0);
    if (n <= 0) return;
    head.append(buffer, static_cast<std::size_t>(n));
  }
  ScriptedReply reply;
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(head.substr(0, head.find("\r\n\r\n")));
    reply = reply_;
  }
  const auto until = std::chrono::steady_clock::now() + reply.delay;
  while (!stop_ && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const std::string sent =
      reply.cutShort ? reply.body.substr(0, reply.body.size() / 2) : reply.body;
  SendAll(connection,
          "HTTP/1.1 " + std::to_string(reply.status) + " " + Reason(reply.status) +
              "\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(reply.body.size()) +
              "\r\nConnection: close\r\n\r\n" + sent);
}

}  // namespace tessaro::testing
