// SPDX-License-Identifier: GPL-2.0-or-later
// This PC's IPv4 interfaces, read with getifaddrs.
#pragma once

#include <cstdint>
#include <vector>

namespace tessaro::busd {

struct Ipv4Interface {
  uint32_t address = 0;    // network order
  uint32_t broadcast = 0;  // network order; 0 without IFF_BROADCAST
};

std::vector<Ipv4Interface> ListIpv4Interfaces();
// The sorted addresses, to notice a change by comparison.
std::vector<uint32_t> Ipv4Addresses(const std::vector<Ipv4Interface>& interfaces);

}  // namespace tessaro::busd
