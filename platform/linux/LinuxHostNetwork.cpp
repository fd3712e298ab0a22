// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/linux/LinuxHostNetwork.h"
#include "base/Ipv4Text.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

namespace tessaro {

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) return {};
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string Dotted(const sockaddr* sa) {
  return FormatIpv4(reinterpret_cast<const sockaddr_in*>(sa)->sin_addr.s_addr);
}

struct LinkFacts {
  std::string ipv4;
  std::string typeText;
  std::string hardwareText;
};

std::string HardwareText(const sockaddr_ll* ll) {
  std::string text;
  char byte[4];
  for (size_t i = 0; i < ll->sll_halen && i < sizeof ll->sll_addr; ++i) {
    std::snprintf(byte, sizeof byte, i ? ":%02x" : "%02x", ll->sll_addr[i]);
    text += byte;
  }
  return text;
}

// The link layer and first IPv4 address of every interface. The link layer comes from the
// kernel's link-level entries: /sys/class/net shows the namespace that mounted it, which need
// not be ours.
std::map<std::string, LinkFacts> LinkFactsByName() {
  std::map<std::string, LinkFacts> facts;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return facts;
  for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr) continue;
    auto& f = facts[a->ifa_name];
    if (a->ifa_addr->sa_family == AF_INET && f.ipv4.empty()) {
      f.ipv4 = Dotted(a->ifa_addr);
    } else if (a->ifa_addr->sa_family == AF_PACKET && f.typeText.empty()) {
      const auto* ll = reinterpret_cast<const sockaddr_ll*>(a->ifa_addr);
      f.typeText = std::to_string(ll->sll_hatype);
      f.hardwareText = HardwareText(ll);
    }
  }
  freeifaddrs(list);
  return facts;
}

}  // namespace

std::vector<AdapterFacts> LinuxHostNetwork::ListAdapters() {
  std::vector<AdapterFacts> adapters;
  struct if_nameindex* names = if_nameindex();
  if (names == nullptr) return adapters;
  auto links = LinkFactsByName();
  for (const struct if_nameindex* n = names; n->if_index != 0 && n->if_name != nullptr; ++n) {
    const std::string name = n->if_name;
    auto& link = links[name];
    if (link.typeText.empty()) {
      const std::string sys = "/sys/class/net/" + name + "/";
      link.typeText = ReadFile(sys + "type");
      link.hardwareText = ReadFile(sys + "address");
    }
    adapters.push_back(
        {name, link.typeText, link.hardwareText, link.ipv4.empty() ? "0.0.0.0" : link.ipv4});
  }
  if_freenameindex(names);
  return adapters;
}

std::string LinuxHostNetwork::ReadRouteTable() { return ReadFile("/proc/net/route"); }

std::string LinuxHostNetwork::ReadUdpTable(bool ipv6) {
  return ReadFile(ipv6 ? "/proc/net/udp6" : "/proc/net/udp");
}

std::optional<std::string> LinuxHostNetwork::ResolveIPv4(const std::string& hostName) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* result = nullptr;
  if (getaddrinfo(hostName.c_str(), nullptr, &hints, &result) != 0 || result == nullptr)
    return std::nullopt;
  std::string text = Dotted(result->ai_addr);
  freeaddrinfo(result);
  if (text.empty()) return std::nullopt;
  return text;
}

int LinuxHostNetwork::OpenBroadcastSocket(const std::string& device, uint16_t port,
                                          std::chrono::milliseconds receiveTimeout) {
  const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (s < 0) return -1;
  const int on = 1;
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(receiveTimeout.count() / 1000);
  tv.tv_usec = static_cast<suseconds_t>((receiveTimeout.count() % 1000) * 1000);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  // A socket bound to a unicast address never sees a broadcast here, so it takes the wildcard
  // address and is tied to its adapter instead.
  const bool ok = ::setsockopt(s, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0 &&
                  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
                  ::setsockopt(s, SOL_SOCKET, SO_BINDTODEVICE, device.c_str(),
                               static_cast<socklen_t>(device.size())) == 0 &&
                  ::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 &&
                  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
  if (!ok) {
    ::close(s);
    return -1;
  }
  return s;
}

bool LinuxHostNetwork::SendBroadcast(int socket, const uint8_t* data, size_t size, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
  const ssize_t sent =
      ::sendto(socket, data, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  return sent == static_cast<ssize_t>(size);
}

HostNetwork::ReceiveStatus LinuxHostNetwork::Receive(int socket, uint8_t* buffer, size_t capacity,
                                                     size_t& received) {
  received = 0;
  for (;;) {
    const ssize_t n = ::recv(socket, buffer, capacity, 0);
    if (n >= 0) {
      received = static_cast<size_t>(n);
      return ReceiveStatus::Datagram;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return ReceiveStatus::TimedOut;
    return ReceiveStatus::Failed;
  }
}

void LinuxHostNetwork::CloseSocket(int socket) { ::close(socket); }

}  // namespace tessaro
