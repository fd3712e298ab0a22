// SPDX-License-Identifier: GPL-2.0-or-later
// Reads an uncompressed Windows bitmap held in memory (a mapped page file) without copying it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace tessaro {

// Pages larger than this are refused as absurd: 65500 is the most a JPEG side can hold, and the
// pixel limit (about an A3 page at 1200 dpi) keeps the memory of one page bounded.
inline constexpr int64_t kBmpMaxSide = 65500;
inline constexpr int64_t kBmpMaxPixels = int64_t{1} << 28;

struct BmpImage {
  int32_t width = 0;
  int32_t height = 0;       // always positive
  bool bottomUp = true;     // rows stored from the bottom (positive height in the header)
  uint16_t bitCount = 0;    // 1, 4, 8, 24 or 32
  size_t stride = 0;        // bytes per stored row, padded to four
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  std::vector<std::array<uint8_t, 3>> palette;  // blue, green, red; for 1, 4 and 8 bits
  std::span<const uint8_t> pixels;              // stride × height bytes inside the input

  // The stored row that shows line `y` counted from the top.
  std::span<const uint8_t> Row(int32_t y) const;
  // True when every palette entry is a shade of grey.
  bool GreyPalette() const;
};

// Why a buffer is not a bitmap we can read.
struct BmpError {
  std::string reason;
};

std::variant<BmpImage, BmpError> ParseBmp(std::span<const uint8_t> file);

}  // namespace tessaro
