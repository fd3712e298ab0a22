// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/LogText.h"

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

}  // namespace tessaro
