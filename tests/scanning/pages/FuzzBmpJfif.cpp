// SPDX-License-Identifier: GPL-2.0-or-later
// Any bytes as a page file: the bitmap reader, the conversion of what it accepts, and the JFIF
// search must answer without reading past the input.
#include <cstddef>
#include <cstdint>
#include <variant>
#include <vector>

#include "scanning/pages/BmpReader.h"
#include "scanning/pages/ImageFormats.h"
#include "scanning/pages/JpegCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy of exactly `size` bytes, so the sanitizer sees any read past the end.
  const std::vector<uint8_t> bytes(data, data + size);
  const auto parsed = tessaro::ParseBmp(bytes);
  if (const auto* image = std::get_if<tessaro::BmpImage>(&parsed)) {
    if (int64_t{image->width} * image->height <= 4096) {
      static tessaro::JpegEncoder encoder;
      const auto jpeg = encoder.Encode(*image, 300);
      if (!jpeg.empty() && tessaro::GetJfifDensity(jpeg) != 300) __builtin_trap();
    }
  }
  std::vector<uint8_t> patched = bytes;
  // What the patch writes is what the search reads back.
  if (tessaro::SetJfifDensity(patched, 0x1234) && tessaro::GetJfifDensity(patched) != 0x1234) {
    __builtin_trap();
  }
  (void)tessaro::DecodeJpegScaled(bytes, 8);
  return 0;
}
