// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessaro::bench {

// An RGB page as a scanner delivers it: 3 bytes a pixel in B, G, R order, top row first.
struct PageImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bgr;
  uint8_t* Row(int y) {
    return bgr.data() + static_cast<size_t>(y) * static_cast<size_t>(width) * 3;
  }
  const uint8_t* Row(int y) const {
    return bgr.data() + static_cast<size_t>(y) * static_cast<size_t>(width) * 3;
  }
};

// A4 at 300 dpi.
constexpr int kA4Width300 = 2480;
constexpr int kA4Height300 = 3508;
constexpr int kLayoutCount = 10;

// A page with scan-like content: rows of glyphs, halftone screens, photo-like gradients, then
// the scanner's optics (a slight blur) and sensor noise. `layout` (0 to kLayoutCount - 1) picks
// the arrangement; the same layout and seed always give the same pixels.
PageImage MakeScanPage(int layout, uint64_t seed, int width = kA4Width300,
                       int height = kA4Height300);

// Writes an uncompressed 24-bit bitmap, rows bottom first, with the resolution in pels per metre.
bool WriteBmp24(const std::string& path, const PageImage& page, int dpi);

}  // namespace tessaro::bench
