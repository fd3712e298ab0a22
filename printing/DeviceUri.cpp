// SPDX-License-Identifier: GPL-2.0-or-later
#include "printing/DeviceUri.h"

#include "base/AsciiText.h"
#include "base/HexText.h"
#include "base/NumberText.h"

namespace tessaro {

namespace {

constexpr std::string_view kScheme = "tessaro://";
constexpr char kHex[] = "0123456789ABCDEF";

std::optional<uint16_t> ParseId(std::string_view text) {
  if (text.size() != 4) return std::nullopt;
  return ParseNumber<uint16_t>(text, 16);
}

std::string PercentEncode(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    const bool plain = (b >= '0' && b <= '9') || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') ||
                       c == '-' || c == '.' || c == '_' || c == '~';
    if (plain) {
      out += c;
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
    }
  }
  return out;
}

std::string HexPair(uint8_t b) { return {kHex[b >> 4], kHex[b & 0xF]}; }

}  // namespace

std::optional<std::array<uint8_t, 6>> ParseMac(std::string_view text, char separator) {
  if (text.size() != 17) return std::nullopt;
  std::array<uint8_t, 6> mac{};
  for (size_t i = 0; i < 6; ++i) {
    const int high = HexDigitValue(text[3 * i]);
    const int low = HexDigitValue(text[3 * i + 1]);
    if (high < 0 || low < 0 || (i < 5 && text[3 * i + 2] != separator)) return std::nullopt;
    mac[i] = static_cast<uint8_t>(high * 16 + low);
  }
  return mac;
}

std::optional<DeviceUri> ParseDeviceUri(std::string_view text, std::string& error) {
  if (!StartsWithNoCase(text, kScheme)) {
    error = "not a tessaro:// URI";
    return std::nullopt;
  }
  text.remove_prefix(kScheme.size());
  std::string_view query;
  if (const auto q = text.find('?'); q != std::string_view::npos) {
    query = text.substr(q + 1);
    text = text.substr(0, q);
  }
  DeviceUri uri;
  const auto slash1 = text.find('/');
  const auto slash2 = slash1 == std::string_view::npos ? slash1 : text.find('/', slash1 + 1);
  if (slash2 == std::string_view::npos || text.find('/', slash2 + 1) != std::string_view::npos) {
    error = "the URI needs SERVER-MAC/VID/PID";
    return std::nullopt;
  }
  const auto mac = ParseMac(text.substr(0, slash1), '-');
  const auto vid = ParseId(text.substr(slash1 + 1, slash2 - slash1 - 1));
  const auto pid = ParseId(text.substr(slash2 + 1));
  if (!mac || !vid || !pid) {
    error = !mac ? "bad server MAC (six hex pairs joined by '-')"
                 : "bad vendor or product ID (four hex digits each)";
    return std::nullopt;
  }
  uri.mac = *mac;
  uri.vendorId = *vid;
  uri.productId = *pid;
  if (!query.empty()) {
    if (!StartsWithNoCase(query, "serial=")) {
      error = "the only query the URI takes is serial=";
      return std::nullopt;
    }
    uri.serial = PercentDecode(query.substr(7));
    if (!uri.serial || uri.serial->find('\0') != std::string::npos) {
      error = "bad percent-encoding in the serial";
      return std::nullopt;
    }
  }
  return uri;
}

std::string FormatMac(const std::array<uint8_t, 6>& mac) {
  std::string out;
  for (size_t i = 0; i < 6; ++i) out += (i ? "-" : "") + HexPair(mac[i]);
  return out;
}

std::string FormatDeviceUri(const DeviceUri& uri) {
  std::string out(kScheme);
  out += FormatMac(uri.mac) + "/" + HexPair(static_cast<uint8_t>(uri.vendorId >> 8)) +
         HexPair(static_cast<uint8_t>(uri.vendorId)) + "/" +
         HexPair(static_cast<uint8_t>(uri.productId >> 8)) +
         HexPair(static_cast<uint8_t>(uri.productId));
  if (uri.serial) out += "?serial=" + PercentEncode(*uri.serial);
  return out;
}

}  // namespace tessaro
