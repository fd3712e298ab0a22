// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/StatusJson.h"

#include <chrono>
#include <cstdio>

#include "base/Ipv4Text.h"
#include "hubd/Hub.h"

namespace tessaro::hubd {

namespace {

// A JSON string. UTF-8 passes as it is; quotes, backslashes and control bytes are escaped.
std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20 || b == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", b);
      out += escaped;
    } else {
      out += c;
    }
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
