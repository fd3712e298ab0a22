// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessaro {

// Readers of the kernel's text tables. Pure functions over text, so that any content, however
// broken, can be fed to them: a line that does not parse is skipped, never trusted.

struct RouteRow {
  std::string iface;
  std::string destination;  // dotted text
  std::string gateway;      // dotted text
  std::string mask;         // dotted text
  unsigned flags = 0;
};

constexpr unsigned kRouteUp = 0x1;
constexpr unsigned kRouteGateway = 0x2;

// /proc/net/route: its header line, then one row per route in the kernel's order.
std::vector<RouteRow> ParseRouteTable(const std::string& text);

// The first gateway of `iface`: its first default route (destination and mask 0.0.0.0) that is
// up and goes through a gateway; empty when it has none.
std::string FirstGatewayOf(const std::vector<RouteRow>& routes, const std::string& iface);

// /proc/net/udp or /proc/net/udp6: the local port of every endpoint, in table order.
std::vector<uint16_t> ParseUdpLocalPorts(const std::string& text);

// /sys/class/net/<name>/type: the ARPHRD number, nullopt when it is not one.
std::optional<int> ParseArphrd(const std::string& text);

// The adapter type the host checks work with (the Windows adapter-type numbers), from ARPHRD.
int AdapterTypeFromArphrd(int arphrd);

// /sys/class/net/<name>/address: the first six bytes ("aa:bb:cc:dd:ee:ff"); a shorter address
// is padded with zeros, text that is not an address gives all zeros.
std::array<uint8_t, 6> ParseHardwareAddress(const std::string& text);

}  // namespace tessaro
