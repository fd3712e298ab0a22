// SPDX-License-Identifier: GPL-2.0-or-later
// IPv4 addresses as text, parsed and written one way for every program.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessaro {

// A dotted quad of four decimal parts 0..255 without leading zeros ("10.0.0.1"), nothing else:
// no shorthand ("10.1"), no octal or hex, no spaces. The address in network byte order, as
// in_addr holds it.
std::optional<uint32_t> ParseIpv4(std::string_view text);
inline bool IsDottedIpv4(std::string_view text) { return ParseIpv4(text).has_value(); }
// The dotted quad of an address in network byte order.
std::string FormatIpv4(uint32_t networkOrder);
// Every 127.x.y.z address is the host itself.
inline bool IsLoopbackIpv4(uint32_t networkOrder) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&networkOrder);
  return bytes[0] == 127;
}

}  // namespace tessaro
