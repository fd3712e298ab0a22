// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/UsbDevice.h"

#include <algorithm>
#include <cstdio>

namespace tessaro::hubd {

namespace {

// The length of the valid UTF-8 sequence at the start of `s`, or 0 when it is not one.
size_t Utf8Length(std::string_view s) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  size_t length = 0;
  uint32_t min = 0;
  uint32_t value = 0;
  if (b0 < 0x80) return 1;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2, min = 0x80, value = b0 & 0x1Fu;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3, min = 0x800, value = b0 & 0x0Fu;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4, min = 0x10000, value = b0 & 0x07u;
  } else {
    return 0;
  }
  if (s.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if ((b & 0xC0) != 0x80) return 0;
    value = (value << 6) | (b & 0x3Fu);
  }
  // Overlong forms, UTF-16 surrogates and values past U+10FFFF are not characters.
  if (value < min || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) return 0;
  return length;
}

bool HasInterface(const UsbDevice& d, uint8_t cls) {
  return d.deviceClass.cls == cls ||
         std::any_of(d.interfaces.begin(), d.interfaces.end(),
                     [cls](const UsbClassTriple& t) { return t.cls == cls; });
}

std::string Hex4(uint16_t v) {
  char text[5];
  std::snprintf(text, sizeof text, "%04x", v);
  return text;
}

}  // namespace

std::string SanitizeUsbText(std::string_view raw, std::string& why) {
  why.clear();
  // sysfs ends each attribute with a newline; it is not part of the string.
  if (!raw.empty() && raw.back() == '\n') raw.remove_suffix(1);
  std::string out;
  bool control = false, invalid = false, cut = false;
  while (!raw.empty()) {
    const size_t length = Utf8Length(raw);
    std::string_view piece = length ? raw.substr(0, length) : std::string_view("?");
    raw.remove_prefix(length ? length : 1);
    const auto b = static_cast<unsigned char>(piece[0]);
    if (length == 1 && (b < 0x20 || b == 0x7F)) {
      control = true;
      continue;
    }
    invalid |= length == 0;
    if (out.size() + piece.size() > kMaxUsbText) {
      cut = true;
      break;
    }
    out += piece;
  }
  const std::pair<bool, const char*> notes[] = {{control, "control bytes dropped"},
                                                 {invalid, "invalid UTF-8 made '?'"},
                                                 {cut, "cut to 126 bytes"}};
  static_assert(kMaxUsbText == 126, "the note names the limit");
  for (const auto& [happened, note] : notes) {
    if (!happened) continue;
    if (!why.empty()) why += ", ";
    why += note;
  }
  return out;
}

std::string UsbTypeWord(const UsbDevice& d) {
  const bool printer = HasInterface(d, 0x07);
  const bool scanner = HasInterface(d, 0x06);
  if (printer && scanner) return "MFP";
  if (printer) return "PRINTER";
  if (scanner) return "SCANNER";
  if (HasInterface(d, 0x08)) return "MASS STORAGE";
  return "UNKNOWN";
}

bool IsUsbHub(const UsbDevice& d) { return d.deviceClass.cls == 0x09; }

std::string FormatClassTriple(const UsbClassTriple& t) {
  char text[9];
  std::snprintf(text, sizeof text, "%02x/%02x/%02x", t.cls, t.subclass, t.protocol);
  return text;
}

std::string UsbDeviceKey(const UsbDevice& d) {
  const std::string ids = Hex4(d.vendorId) + " " + Hex4(d.productId);
  return d.serial.empty() ? ids + " port " + d.port : ids + " serial " + d.serial;
}

}  // namespace tessaro::hubd
