// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/LogText.h"

#include "base/HexText.h"

namespace tessaro {

std::string LogText(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b == '\\') {
      out += "\\\\";
    } else if (b < 0x20 || b == 0x7F) {
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

std::optional<std::string> ParseLogText(std::string_view escaped) {
  const auto digit = HexDigitValue;
  std::string out;
  for (size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] != '\\') {
      out += escaped[i];
    } else if (i + 1 < escaped.size() && escaped[i + 1] == '\\') {
      out += '\\';
      ++i;
    } else if (i + 3 < escaped.size() && escaped[i + 1] == 'x' && digit(escaped[i + 2]) >= 0 &&
               digit(escaped[i + 3]) >= 0) {
      out += static_cast<char>(digit(escaped[i + 2]) * 16 + digit(escaped[i + 3]));
      i += 3;
    } else {
      return std::nullopt;
    }
  }
  return out;
}

}  // namespace tessaro
