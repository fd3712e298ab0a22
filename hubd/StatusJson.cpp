// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/StatusJson.h"

#include <chrono>
#include <cstdio>
#include <string_view>

#include "base/Ipv4Text.h"
#include "hubd/Hub.h"

namespace tessaro::hubd {

namespace {

// The length of the well-formed UTF-8 sequence `text` starts with (RFC 3629: no overlong forms,
// no surrogates, nothing above U+10FFFF), or 0.
size_t Utf8SequenceLength(std::string_view text) {
  const auto at = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = at(0);
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the byte after the lead
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || at(1) < low || at(1) > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if (at(i) < 0x80 || at(i) > 0xBF) return 0;
  return length;
}

// A JSON string. UTF-8 passes as it is; quotes, backslashes and control bytes are escaped, and so
// is every byte that is not part of well-formed UTF-8 (as the character of its value), so the
// document stays valid JSON whatever bytes a name holds.
std::string Quoted(std::string_view text) {
  std::string out = "\"";
  const auto escape = [&out](unsigned char b) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\u%04x", b);
    out += escaped;
  };
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20 || b == 0x7F) {
      escape(b);
    } else if (b >= 0x80) {
      const size_t length = Utf8SequenceLength(text.substr(i));
      if (length == 0) {
        escape(b);
      } else {
        out.append(text.substr(i, length));
        i += length;
        continue;
      }
    } else {
      out += c;
    }
    ++i;
  }
  return out + "\"";
}

std::string MacText(const std::array<uint8_t, 6>& mac) {
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return text;
}

std::string Hex4(uint16_t id) {
  char text[5];
  std::snprintf(text, sizeof text, "%04X", id);
  return text;
}

}  // namespace

std::string StatusJson(const Hub& hub, bool admin, bool adminPasswordSet) {
  using std::chrono::duration_cast;
  using std::chrono::seconds;
  const auto now = hub.clock().Now();
  const wire::ServerInfo info = hub.Info();
  std::string j =
      "{\"server\":{\"name\":" + Quoted(info.name) +
      ",\"address\":" + Quoted(FormatIpv4(hub.address())) +
      ",\"port\":" + std::to_string(hub.tcpPort()) + ",\"mac\":" + Quoted(MacText(info.mac)) +
      ",\"storageMode\":" + std::to_string(info.storageMode) + ",\"protocol\":\"" +
      std::to_string(info.major) + "." + std::to_string(info.minor) + "\",\"uptimeSeconds\":" +
      std::to_string(duration_cast<seconds>(now - hub.started()).count()) + "},";
  j += "\"admin\":" + std::string(admin ? "true" : "false") +
       ",\"adminPasswordSet\":" + (adminPasswordSet ? "true" : "false") + ",\"devices\":[";
  bool first = true;
  for (const wire::DeviceInfo& d : hub.table().List()) {
    const auto end = hub.table().LockEndOf(d.number);
    j += std::string(first ? "" : ",") + "{\"number\":" + std::to_string(d.number) +
         ",\"type\":" + Quoted(d.type) + ",\"vendorId\":\"" + Hex4(d.vendorId) +
         "\",\"productId\":\"" + Hex4(d.productId) +
         "\",\"manufacturer\":" + Quoted(d.manufacturer) + ",\"product\":" + Quoted(d.product) +
         ",\"serial\":" + Quoted(d.serial) + ",\"owner\":" + Quoted(d.owner) +
         ",\"lockKind\":" + std::to_string(d.lockKind) + ",\"lockEndsInSeconds\":" +
         (end ? std::to_string(std::max<int64_t>(0, duration_cast<seconds>(*end - now).count()))
              : std::string("null")) +
         "}";
    first = false;
  }
  j += "],\"pcs\":[";
  first = true;
  for (const auto& [name, peer] : hub.AttachedPcs()) {
    j += std::string(first ? "" : ",") + "{\"name\":" + Quoted(name) + ",\"from\":" + Quoted(peer) +
         "}";
    first = false;
  }
  return j + "]}";
}

}  // namespace tessaro::hubd
