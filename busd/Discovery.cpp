// SPDX-License-Identifier: GPL-2.0-or-later
#include "busd/Discovery.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>

#include "busd/Log.h"

namespace tessaro::busd {

Discovery::Discovery(uint16_t port, OnReply onReply, const Logger& log)
    : port_(port), onReply_(std::move(onReply)), log_(log) {
  fd_.Reset(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd_.valid()) return;
  const int on = 1;
  ::setsockopt(fd_.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  sockaddr_in any{};
  any.sin_family = AF_INET;  // port 0: the system picks one; 9303 stays free for others
  if (::bind(fd_.get(), reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) fd_.Reset();
}

void Discovery::AddTo(PollSet& poll) {
  if (ok()) poll.Add(fd_.get(), POLLIN, [this](short) { Receive(); });
}

void Discovery::Tick(Clock::time_point now, const std::vector<Ipv4Interface>& interfaces) {
  if (!ok() || (sentOnce_ && now - lastSent_ < kInterval)) return;
  sentOnce_ = true;
  lastSent_ = now;
  Broadcast(interfaces);
}

void Discovery::Broadcast(const std::vector<Ipv4Interface>& interfaces) {
  uint32_t id = 0;
  while (id == 0) id = static_cast<uint32_t>(random_());
  recentIds_[nextId_] = id;
  nextId_ = (nextId_ + 1) % recentIds_.size();
  const auto datagram =
      wire::EncodeFrame({wire::MsgType::Discover, 0, id, wire::EncodeVersionProbe({})});
  for (const auto& i : interfaces) {
    if (i.broadcast == 0) continue;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port_);
    to.sin_addr.s_addr = i.broadcast;
    ::sendto(fd_.get(), datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
             sizeof to);
  }
}

void Discovery::Receive() {
  uint8_t buffer[65536 + 64];
  for (;;) {
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n = ::recvfrom(fd_.get(), buffer, sizeof buffer, 0,
                                 reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 0) return;
    const auto frame = wire::DecodeDatagram({buffer, static_cast<size_t>(n)});
    if (!frame || frame->type != wire::MsgType::DiscoverReply || !IsRecentId(frame->id)) continue;
    const auto info = wire::DecodeServerInfo(frame->payload);
    if (!info) {
      log_.Info("malformed DiscoverReply from " + IpText(from.sin_addr.s_addr));
      continue;
    }
    onReply_(from.sin_addr.s_addr, *info);
  }
}

bool Discovery::IsRecentId(uint32_t id) const {
  return id != 0 && std::find(recentIds_.begin(), recentIds_.end(), id) != recentIds_.end();
}

}  // namespace tessaro::busd
