// SPDX-License-Identifier: GPL-2.0-or-later
// Hexadecimal text one way for every program: digit values, bytes as hex, and percent-encoding.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tessaro {

// The value of one hex digit (either letter case), -1 for anything else.
int HexDigitValue(char c);

// Lower-case hex, two digits a byte.
std::string HexText(std::span<const uint8_t> bytes);
// nullopt unless `text` is exactly 2 * N hex digits.
template <size_t N>
std::optional<std::array<uint8_t, N>> ParseHex(std::string_view text) {
  if (text.size() != 2 * N) return std::nullopt;
  std::array<uint8_t, N> out{};
  for (size_t i = 0; i < N; ++i) {
    const int high = HexDigitValue(text[2 * i]);
    const int low = HexDigitValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    out[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return out;
}

enum class PlusIs { Plus, Space };  // Space: HTML form fields
// %XX escapes decoded; nullopt for a '%' without two hex digits after it.
std::optional<std::string> PercentDecode(std::string_view text, PlusIs plus = PlusIs::Plus);

}  // namespace tessaro
