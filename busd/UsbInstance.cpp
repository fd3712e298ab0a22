// SPDX-License-Identifier: GPL-2.0-or-later
#include "busd/UsbInstance.h"

#include <cctype>
#include <cstdio>

#include "busd/Log.h"
#include "busd/ReplyBuilder.h"

#include "base/AsciiText.h"

namespace tessaro::busd {

namespace {

// Exactly four hex digits.
std::optional<uint16_t> Hex16(std::string_view text) {
  if (text.size() != 4) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (!std::isxdigit(u)) return std::nullopt;
    value =
        value * 16 + static_cast<unsigned>(std::isdigit(u) ? u - '0' : std::tolower(u) - 'a' + 10);
  }
  return static_cast<uint16_t>(value);
}

bool CanNameKey(std::string_view serial) {
  if (serial.empty()) return false;
  for (char c : serial) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F || c == ',' || c == '\\') return false;
  }
  return true;
}

}  // namespace

std::optional<UsbInstanceId> ParseUsbInstanceId(std::string_view text) {
  // USB\Vid_xxxx&Pid_xxxx\ is 22 characters.
  constexpr size_t kVid = 8, kPid = 17, kInstance = 22;
  if (text.size() <= kInstance || !StartsWithNoCase(text, "USB\\Vid_") ||
      !StartsWithNoCase(text.substr(kVid + 4), "&Pid_") || text[kInstance - 1] != '\\')
    return std::nullopt;
  const auto vid = Hex16(text.substr(kVid, 4));
  const auto pid = Hex16(text.substr(kPid, 4));
  const std::string_view instance = text.substr(kInstance);
  if (!vid || !pid || instance.find('\\') != std::string_view::npos) return std::nullopt;
  return UsbInstanceId{*vid, *pid, std::string(instance)};
}

std::string InstanceName(uint32_t serverIp, const wire::DeviceInfo& d) {
  const std::string serial = d.serial.substr(0, kMaxBusText);
  if (CanNameKey(serial)) return serial;
  const std::string place = IpText(serverIp) + "/" + std::to_string(d.number) + "/" +
                            UsbDeviceName(d.vendorId, d.productId);
  return "6&" + HashText(place) + "&0&" + std::to_string(d.number);
}

std::string UsbDeviceName(uint16_t vendorId, uint16_t productId) {
  char text[32];
  std::snprintf(text, sizeof text, "Vid_%04x&Pid_%04x", vendorId, productId);
  return text;
}

bool NamesDevice(const UsbInstanceId& id, uint32_t serverIp, const wire::DeviceInfo& device) {
  return id.vendorId == device.vendorId && id.productId == device.productId &&
         id.instance == InstanceName(serverIp, device);
}

std::string HashText(std::string_view text) {
  uint32_t hash = 2166136261u;
  for (char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 16777619u;
  }
  char out[9];
  std::snprintf(out, sizeof out, "%08x", hash);
  return out;
}

}  // namespace tessaro::busd
