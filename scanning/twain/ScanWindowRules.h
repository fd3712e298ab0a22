// SPDX-License-Identifier: GPL-2.0-or-later
// The scan window's arithmetic and naming, free of any widget: the group's free file name,
// the picture information texts, zoom steps, page navigation and the page file of a DIB.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "scanning/twain/TwainTypes.h"

namespace tessaro::twain {

// The group's target: stem + "." + ext when neither it nor stem.bmp / stem.jpg exists, else
// stem + i (i = 1 … 1000, no separator) in the same three forms; nullopt when all are taken
// (the window then asks whether to overwrite the un-numbered name).
std::optional<std::string> FindFreeTarget(const std::string& stem, const std::string& ext,
                                          const std::function<bool(const std::string&)>& exists);

struct PictureTexts {
  std::string bits;    // "24 bit(s)"
  std::string pixels;  // "2480 x 3508 pixels"
  std::string size;    // "24.9 MB"
  std::string cm;      // "20.9 x 29.7 cm", empty without a resolution
  std::string dpi;     // "300 dpi", empty without a resolution
};
PictureTexts DescribePicture(int32_t width, int32_t height, int32_t bits, int32_t dpi);

// The next scale up (57 → 60 → 70, at most 300) and down (60 → 50, 57 → 54, never below the
// fit scale); unchanged where zooming stops.
int32_t ZoomInScale(int32_t scale);
int32_t ZoomOutScale(int32_t scale, int32_t minScale);

// Where the preview goes in its panel: the picture fitted inside the panel less a 16-pixel margin
// (never enlarged), its scale in percent, and its place centred, at least 8 pixels in.
struct PreviewPlace {
  int32_t width = 0;
  int32_t height = 0;
  int32_t left = 8;
  int32_t top = 8;
  int32_t scalePercent = 0;
};
PreviewPlace FitPreview(int32_t pictureWidth, int32_t pictureHeight, int32_t panelWidth,
                        int32_t panelHeight);
// The picture at `scalePercent`, centred the same way.
PreviewPlace ScalePreview(int32_t pictureWidth, int32_t pictureHeight, int32_t scalePercent,
                          int32_t panelWidth, int32_t panelHeight);

// Page navigation with wrap-around (0-based).
int32_t NextPage(int32_t index, int32_t count);
int32_t PreviousPage(int32_t index, int32_t count);

// The resolution to ask of a page at `dpi` and `bits` per pixel, or nullopt to leave it: more
// than 600 (for 1, 8 and 24 bits) or 600 and more (other depths) brings it to 600.
std::optional<int32_t> ResolutionTarget(int32_t dpi, int32_t bits);

// A packed DIB written as a bitmap file: 14-byte header, then the DIB (its image size set for
// an uncompressed one). Written to a temporary file and renamed; an existing file is replaced
// only with `replace`. False when the DIB is not a bitmap this can write or the file cannot be.
bool WriteBmpFile(TW_HANDLE dib, const std::string& path, bool replace);

}  // namespace tessaro::twain
