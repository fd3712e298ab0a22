// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/Discovery.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace tessaro::hubd {

namespace {

// The interface whose address is ownAddress, else the one whose subnet holds it (127.0.0.2 is
// reached through lo, which only lists 127.0.0.1/8).
std::string InterfaceHolding(uint32_t ownAddress) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return {};
  std::string exact, subnet;
  for (ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !i->ifa_netmask) continue;
    const uint32_t a = reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
    const uint32_t m = reinterpret_cast<sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr;
    if (a == ownAddress && exact.empty()) exact = i->ifa_name;
    if ((a & m) == (ownAddress & m) && subnet.empty()) subnet = i->ifa_name;
  }
  freeifaddrs(list);
  return exact.empty() ? subnet : exact;
}

UniqueFd BindUdp(uint32_t address, uint16_t port, const std::string& device, std::string& error) {
  UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  const int on = 1;
  if (fd.valid() && !device.empty() &&
      ::setsockopt(fd.get(), SOL_SOCKET, SO_BINDTODEVICE, device.c_str(),
                   static_cast<socklen_t>(device.size())) != 0)
    error = "cannot restrict discovery to " + device + " (" + std::strerror(errno) + "); ";
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = address;
  sa.sin_port = htons(port);
  if (!fd.valid() || ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      ::bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    error += std::strerror(errno);
    fd.Reset();
  }
  return fd;
}

}  // namespace

std::optional<std::vector<uint8_t>> AnswerDatagram(std::span<const uint8_t> datagram,
                                                   const wire::ServerInfo& info) {
  const auto frame = wire::DecodeDatagram(datagram);
  if (!frame || frame->type != wire::MsgType::Discover || !wire::DecodeVersionProbe(frame->payload))
    return std::nullopt;
  // A different major version still gets an answer: the PC decides it cannot talk to us.
  return wire::EncodeFrame(
      {wire::MsgType::DiscoverReply, 0, frame->id, wire::EncodeServerInfo(info)});
}

void Discovery::Open(uint32_t ownAddress, uint16_t port, const LogFn& log) {
  const std::string device = InterfaceHolding(ownAddress);
  std::string error;
  broadcast_ = BindUdp(htonl(INADDR_ANY), port, device, error);
  if (!error.empty()) log("discovery broadcasts: " + error);
  error.clear();
  own_ = BindUdp(ownAddress, port, {}, error);
  if (!own_.valid()) log("discovery off: cannot bind the own address: " + error);
}

std::vector<int> Discovery::Fds() const {
  std::vector<int> fds;
  for (const UniqueFd* f : {&broadcast_, &own_})
    if (f->valid()) fds.push_back(f->get());
  return fds;
}

void Discovery::OnReadable(int fd, const wire::ServerInfo& info) {
  uint8_t buffer[wire::kHeaderSize + 512];
  sockaddr_in from{};
  socklen_t fromLength = sizeof from;
  const ssize_t n = ::recvfrom(fd, buffer, sizeof buffer, MSG_TRUNC,
                               reinterpret_cast<sockaddr*>(&from), &fromLength);
  if (n < 0 || static_cast<size_t>(n) > sizeof buffer || from.sin_family != AF_INET) return;
  const auto reply = AnswerDatagram({buffer, static_cast<size_t>(n)}, info);
  if (!reply || !own_.valid()) return;
  ::sendto(own_.get(), reply->data(), reply->size(), MSG_NOSIGNAL,
           reinterpret_cast<sockaddr*>(&from), sizeof from);
}

}  // namespace tessaro::hubd
