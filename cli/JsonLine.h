// SPDX-License-Identifier: GPL-2.0-or-later
// One JSON object per output line. Texts are 8-bit strings: every byte 0x80 to 0xFF becomes
// \u0080 to \u00FF and every control byte \u00XX, so a reader gets each byte back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tessaro::cli {

// The text as the inside of a JSON string (without the quotes).
std::string JsonEscape(std::string_view bytes);

class JsonLine {
 public:
  JsonLine& Text(std::string_view key, std::string_view value);
  JsonLine& Number(std::string_view key, int64_t value);
  JsonLine& Bool(std::string_view key, bool value);
  std::string str() const { return "{" + body_ + "}"; }

 private:
  void Key(std::string_view key);
  std::string body_;
};

}  // namespace tessaro::cli
