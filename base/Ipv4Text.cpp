// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/Ipv4Text.h"

#include <cstdio>
#include <cstring>

namespace tessaro {

std::optional<uint32_t> ParseIpv4(std::string_view text) {
  unsigned char bytes[4] = {};
  size_t pos = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (pos >= text.size() || text[pos] != '.') return std::nullopt;
      ++pos;
    }
    const size_t start = pos;
    unsigned value = 0;
    while (pos < text.size() && pos - start < 3 && text[pos] >= '0' && text[pos] <= '9') {
      value = value * 10 + static_cast<unsigned>(text[pos] - '0');
      ++pos;
    }
    const size_t digits = pos - start;
    if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) return std::nullopt;
    bytes[part] = static_cast<unsigned char>(value);
  }
  if (pos != text.size()) return std::nullopt;
  uint32_t networkOrder = 0;
  std::memcpy(&networkOrder, bytes, 4);
  return networkOrder;
}

std::string FormatIpv4(uint32_t networkOrder) {
  unsigned char bytes[4];
  std::memcpy(bytes, &networkOrder, 4);
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
  return text;
}

}  // namespace tessaro
