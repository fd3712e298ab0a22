// SPDX-License-Identifier: GPL-2.0-or-later
#include "host/KernelTables.h"
#include "base/Ipv4Text.h"
#include "base/NumberText.h"

#include <arpa/inet.h>

#include <charconv>
#include <cstring>
#include <sstream>

namespace tessaro {

namespace {

std::vector<std::string> Fields(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> fields;
  for (std::string f; in >> f;) fields.push_back(f);
  return fields;
}

// The kernel prints an IPv4 address as its 32-bit word in the machine's own byte order.
std::optional<std::string> RouteAddress(const std::string& hex) {
  if (hex.size() != 8) return std::nullopt;
  const auto word = ParseNumber<uint32_t>(hex, 16);
  if (!word) return std::nullopt;
  return FormatIpv4(*word);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

std::vector<RouteRow> ParseRouteTable(const std::string& text) {
  std::vector<RouteRow> rows;
  const auto lines = Lines(text);
  for (size_t i = 1; i < lines.size(); ++i) {
    const auto f = Fields(lines[i]);
    if (f.size() < 8) continue;
    const auto destination = RouteAddress(f[1]);
    const auto gateway = RouteAddress(f[2]);
    const auto flags = ParseNumber<unsigned>(f[3], 16);
    const auto mask = RouteAddress(f[7]);
    if (!destination || !gateway || !flags || !mask) continue;
    rows.push_back({f[0], *destination, *gateway, *mask, *flags});
  }
  return rows;
}

std::string FirstGatewayOf(const std::vector<RouteRow>& routes, const std::string& iface) {
  for (const auto& r : routes) {
    const bool isDefault = r.destination == "0.0.0.0" && r.mask == "0.0.0.0";
    const bool viaGateway = (r.flags & kRouteUp) && (r.flags & kRouteGateway);
    if (r.iface == iface && isDefault && viaGateway) return r.gateway;
  }
  return {};
}

std::vector<uint16_t> ParseUdpLocalPorts(const std::string& text) {
  std::vector<uint16_t> ports;
  const auto lines = Lines(text);
  for (size_t i = 1; i < lines.size(); ++i) {
    const auto f = Fields(lines[i]);
    if (f.size() < 2) continue;
    const auto colon = f[1].rfind(':');
    if (colon == std::string::npos) continue;
    const std::string_view portText = std::string_view(f[1]).substr(colon + 1);
    if (portText.size() != 4) continue;
    if (const auto port = ParseNumber<uint16_t>(portText, 16)) ports.push_back(*port);
  }
  return ports;
}

std::optional<int> ParseArphrd(const std::string& text) {
  std::string trimmed = text;
  while (!trimmed.empty() && (trimmed.back() == '\n' || trimmed.back() == ' ')) trimmed.pop_back();
  const auto value = ParseNumber<int>(trimmed, 10);
  if (!value || *value < 0) return std::nullopt;
  return value;
}

int AdapterTypeFromArphrd(int arphrd) {
  switch (arphrd) {
    case 1: return 6;     // Ethernet
    case 772: return 24;  // loopback
    case 512: return 23;  // PPP
    case 256:             // SLIP
    case 257: return 28;  // CSLIP
    case 774: return 15;  // FDDI
    case 800: return 9;   // token ring
    case 801:             // the IEEE 802.11 family: wireless, a type outside the known set
    case 802:
    case 803: return 71;
    default: return 1;  // other
  }
}

std::array<uint8_t, 6> ParseHardwareAddress(const std::string& text) {
  std::array<uint8_t, 6> bytes{};
  std::string trimmed = text.substr(0, text.find('\n'));
  size_t pos = 0;
  for (size_t i = 0; i < bytes.size() && pos < trimmed.size(); ++i) {
    const size_t end = std::min(trimmed.find(':', pos), trimmed.size());
    const auto byte = ParseNumber<uint8_t>(std::string_view(trimmed).substr(pos, end - pos), 16);
    if (!byte || end - pos > 2) return {};
    bytes[i] = *byte;
    pos = end + 1;
  }
  return bytes;
}

}  // namespace tessaro
