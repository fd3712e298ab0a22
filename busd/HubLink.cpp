// SPDX-License-Identifier: GPL-2.0-or-later
#include "busd/HubLink.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tessaro::busd {

HubLink::HubLink(uint32_t ip, uint16_t port, HubListener& listener, std::string computerName,
                 const wire::PcKey& key, Clock::time_point now)
    : session_(std::make_unique<HubSession>(listener, std::move(computerName), key, ip, port, now)),
      started_(now) {
  fd_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd_.valid()) {
    Fail(std::string("socket: ") + std::strerror(errno));
    return;
  }
  SetNoDelay(fd_.get());
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = ip;
  if (::connect(fd_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    connecting_ = false;
    return;
  }
  if (errno != EINPROGRESS) Fail(std::string("connect: ") + std::strerror(errno));
}

std::string HubLink::error() const {
  if (!error_.empty()) return error_;
  return session_ ? session_->error() : std::string();
}

void HubLink::AddTo(PollSet& poll, std::function<void()> onDone) {
  if (!alive()) return;
  short events = connecting_ ? POLLOUT : POLLIN;
  if (!connecting_ && !session_->output().empty()) events |= POLLOUT;
  poll.Add(fd_.get(), events, [this, onDone = std::move(onDone)](short revents) {
    OnReady(revents);
    if (!alive()) onDone();
  });
}

bool HubLink::Tick(Clock::time_point now) {
  if (!alive()) return false;
  if (connecting_) {
    if (now - started_ > kConnectTimeout) Fail("connect timed out");
    return alive();
  }
  session_->Tick(now);
  Flush();
  return alive();
}

void HubLink::OnReady(short revents) {
  if (connecting_) {
    FinishConnect();
    if (alive()) Flush();
    return;
  }
  if (revents & (POLLIN | POLLHUP | POLLERR)) ReadSome();
  if (alive()) Flush();
}

void HubLink::FinishConnect() {
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(fd_.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
  if (err != 0) return Fail(std::string("connect: ") + std::strerror(err));
  connecting_ = false;
}

void HubLink::ReadSome() {
  uint8_t buffer[65536];
  const ssize_t n = ::recv(fd_.get(), buffer, sizeof buffer, 0);
  if (n > 0) {
    session_->Feed({buffer, static_cast<size_t>(n)}, Clock::now());
    return;
  }
  if (n == 0) return Fail("connection closed");
  if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
    Fail(std::string("recv: ") + std::strerror(errno));
}

void HubLink::Flush() {
  if (connecting_) return;
  auto& out = session_->output();
  while (!out.empty()) {
    const ssize_t n = ::send(fd_.get(), out.data(), out.size(), MSG_NOSIGNAL);
    if (n > 0) {
      out.erase(out.begin(), out.begin() + n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    return Fail(std::string("send: ") + std::strerror(errno));
  }
}

void HubLink::Fail(std::string why) {
  if (error_.empty()) error_ = std::move(why);
}

}  // namespace tessaro::busd
