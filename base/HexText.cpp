// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/HexText.h"

namespace tessaro {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string HexText(std::span<const uint8_t> bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const uint8_t b : bytes) {
    out += kHex[b >> 4];
    out += kHex[b & 0xF];
  }
  return out;
}

std::optional<std::string> PercentDecode(std::string_view text, PlusIs plus) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+' && plus == PlusIs::Space) {
      out += ' ';
    } else if (text[i] != '%') {
      out += text[i];
    } else if (i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
               HexDigitValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
      i += 2;
    } else {
      return std::nullopt;
    }
  }
  return out;
}

}  // namespace tessaro
