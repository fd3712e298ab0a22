// SPDX-License-Identifier: GPL-2.0-or-later
// Numbers read from text one way for every program: the whole text must be the number.
#pragma once

#include <charconv>
#include <optional>
#include <string_view>

namespace tessaro {

enum class PlusSign { Refused, Allowed };

// Digits in `base` (a leading '-' for a signed T, a leading '+' only when allowed), nothing
// before or after them, and a value T can hold; anything else is no number.
template <typename T>
std::optional<T> ParseNumber(std::string_view text, int base = 10,
                             PlusSign plus = PlusSign::Refused) {
  if (plus == PlusSign::Allowed && !text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return std::nullopt;
  }
  if (text.empty()) return std::nullopt;
  T value{};
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, base);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

// The same, and within [min, max].
template <typename T>
std::optional<T> ParseNumberIn(std::string_view text, T min, T max,
                               PlusSign plus = PlusSign::Refused) {
  const auto value = ParseNumber<T>(text, 10, plus);
  if (!value || *value < min || *value > max) return std::nullopt;
  return value;
}

}  // namespace tessaro
