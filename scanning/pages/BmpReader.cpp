// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/pages/BmpReader.h"

#include <algorithm>

namespace tessaro {

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kCompressionNone = 0;

uint16_t U16(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
uint32_t U32(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
int32_t I32(std::span<const uint8_t> b, size_t at) { return static_cast<int32_t>(U32(b, at)); }

bool KnownInfoHeaderSize(uint32_t size) {
  // BITMAPINFOHEADER and its later extensions (V2, V3, V4, V5); the old 12-byte core header
  // has other field widths and no scanner writes it.
  return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

bool KnownBitCount(uint16_t bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 24 || bits == 32;
}

}  // namespace

std::span<const uint8_t> BmpImage::Row(int32_t y) const {
  const auto stored = static_cast<size_t>(bottomUp ? height - 1 - y : y);
  return pixels.subspan(stored * stride, stride);
}

bool BmpImage::GreyPalette() const {
  return !palette.empty() && std::all_of(palette.begin(), palette.end(), [](const auto& c) {
    return c[0] == c[1] && c[1] == c[2];
  });
}

std::variant<BmpImage, BmpError> ParseBmpHeader(std::span<const uint8_t> file, uint64_t fileSize) {
  // Whatever the caller passed, only the bytes a header can use count as the header.
  file =
      file.first(static_cast<size_t>(std::min<uint64_t>({file.size(), fileSize, kBmpHeadBytes})));
  if (file.size() < kFileHeaderSize + 4) return BmpError{"too short for a bitmap header"};
  if (file[0] != 'B' || file[1] != 'M') return BmpError{"not a bitmap"};
  const uint32_t pixelOffset = U32(file, 10);
  const uint32_t infoSize = U32(file, 14);
  if (!KnownInfoHeaderSize(infoSize)) return BmpError{"unknown bitmap header size"};
  if (file.size() < kFileHeaderSize + infoSize) return BmpError{"truncated bitmap header"};

  BmpImage image;
  const int32_t width = I32(file, 18);
  const int32_t height = I32(file, 22);
  const uint16_t planes = U16(file, 26);
  image.bitCount = U16(file, 28);
  const uint32_t compression = U32(file, 30);
  image.xPelsPerMeter = I32(file, 38);
  image.yPelsPerMeter = I32(file, 42);
  const uint32_t coloursUsed = U32(file, 46);

  if (planes != 1) return BmpError{"bitmap plane count is not 1"};
  if (!KnownBitCount(image.bitCount)) return BmpError{"unsupported bits per pixel"};
  if (compression != kCompressionNone) return BmpError{"compressed bitmap"};
  // int64 so that the smallest int32 height cannot overflow when negated.
  const int64_t rows = height < 0 ? -int64_t{height} : int64_t{height};
  if (width <= 0 || rows == 0) return BmpError{"empty bitmap"};
  if (width > kBmpMaxSide || rows > kBmpMaxSide || int64_t{width} * rows > kBmpMaxPixels) {
    return BmpError{"bitmap dimensions too large"};
  }
  image.width = width;
  image.height = static_cast<int32_t>(rows);
  image.bottomUp = height > 0;
  image.stride = (static_cast<size_t>(width) * image.bitCount + 31) / 32 * 4;

  if (image.bitCount <= 8) {
    const uint32_t most = 1u << image.bitCount;
    if (coloursUsed > most) return BmpError{"palette larger than the bit depth allows"};
    const uint32_t entries = coloursUsed == 0 ? most : coloursUsed;
    const size_t paletteAt = kFileHeaderSize + infoSize;
    const size_t paletteEnd = paletteAt + size_t{entries} * 4;
    // paletteEnd is at most kBmpHeadBytes, so a palette past `file` is past the end of the file.
    if (paletteEnd > file.size() || paletteEnd > pixelOffset) return BmpError{"truncated palette"};
    image.palette.reserve(entries);
    for (uint32_t i = 0; i < entries; ++i) {
      const size_t at = paletteAt + size_t{i} * 4;
      image.palette.push_back({file[at], file[at + 1], file[at + 2]});
    }
  }

  if (pixelOffset < kFileHeaderSize + infoSize) return BmpError{"pixel data inside the header"};
  const uint64_t pixelBytes = uint64_t{image.stride} * static_cast<uint64_t>(image.height);
  if (pixelOffset > fileSize || fileSize - pixelOffset < pixelBytes) {
    return BmpError{"truncated pixel data"};
  }
  image.pixelOffset = pixelOffset;
  return image;
}

std::variant<BmpImage, BmpError> ParseBmp(std::span<const uint8_t> file) {
  auto parsed = ParseBmpHeader(file, file.size());
  if (auto* image = std::get_if<BmpImage>(&parsed)) {
    image->pixels =
        file.subspan(image->pixelOffset, image->stride * static_cast<size_t>(image->height));
  }
  return parsed;
}

}  // namespace tessaro
