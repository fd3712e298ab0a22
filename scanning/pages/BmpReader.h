// SPDX-License-Identifier: GPL-2.0-or-later
// Reads the header of an uncompressed Windows bitmap, and finds its rows in memory or in the file.
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
// The most a file header, the largest info header and a full 256-colour palette take: reading
// this much of a file (or all of a shorter one) is enough for ParseBmpHeader.
inline constexpr size_t kBmpHeadBytes = 14 + 124 + 256 * 4;

struct BmpImage {
  int32_t width = 0;
  int32_t height = 0;     // always positive
  bool bottomUp = true;   // rows stored from the bottom (positive height in the header)
  uint16_t bitCount = 0;  // 1, 4, 8, 24 or 32
  size_t stride = 0;      // bytes per stored row, padded to four
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  std::vector<std::array<uint8_t, 3>> palette;  // blue, green, red; for 1, 4 and 8 bits
  size_t pixelOffset = 0;                       // where the rows start in the file
  std::span<const uint8_t> pixels;              // stride × height bytes inside the input; empty
                                                // when only the header was parsed

  // The stored row that shows line `y` counted from the top.
  std::span<const uint8_t> Row(int32_t y) const;
  // True when every palette entry is a shade of grey.
  bool GreyPalette() const;
};

// Why a buffer is not a bitmap we can read.
struct BmpError {
  std::string reason;
};

// A whole file held in memory; the image's pixels point into it.
std::variant<BmpImage, BmpError> ParseBmp(std::span<const uint8_t> file);
// The first min(fileSize, kBmpHeadBytes) bytes of a file of `fileSize` bytes: the same checks as
// ParseBmp, rows included, but the pixels stay in the file at pixelOffset.
std::variant<BmpImage, BmpError> ParseBmpHeader(std::span<const uint8_t> head, uint64_t fileSize);

}  // namespace tessaro
