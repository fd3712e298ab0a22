// SPDX-License-Identifier: GPL-2.0-or-later
#include "busd/HostAddresses.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>

namespace tessaro::busd {

std::vector<Ipv4Interface> ListIpv4Interfaces() {
  std::vector<Ipv4Interface> result;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return result;
  for (const ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
    if (!(i->ifa_flags & IFF_UP)) continue;
    Ipv4Interface one;
    one.address = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
    if ((i->ifa_flags & IFF_BROADCAST) && i->ifa_broadaddr != nullptr &&
        i->ifa_broadaddr->sa_family == AF_INET)
      one.broadcast = reinterpret_cast<const sockaddr_in*>(i->ifa_broadaddr)->sin_addr.s_addr;
    result.push_back(one);
  }
  ::freeifaddrs(list);
  return result;
}

std::vector<uint32_t> Ipv4Addresses(const std::vector<Ipv4Interface>& interfaces) {
  std::vector<uint32_t> addresses;
  for (const auto& i : interfaces) addresses.push_back(i.address);
  std::sort(addresses.begin(), addresses.end());
  addresses.erase(std::unique(addresses.begin(), addresses.end()), addresses.end());
  return addresses;
}

}  // namespace tessaro::busd
