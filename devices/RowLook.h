// SPDX-License-Identifier: GPL-2.0-or-later
// How a device row looks and where it sorts, as pure functions of its DeviceData, so the view
// only paints what these say.
#pragma once

#include <cstdint>
#include <string>

#include "records/Records.h"

namespace tessaro {

struct Rgb {
  uint8_t r = 0;
  uint8_t g = 0;
  uint8_t b = 0;
  bool operator==(const Rgb&) const = default;
};

namespace rowcolour {
inline constexpr Rgb kCaption{0, 0, 0};
inline constexpr Rgb kSeparator{192, 192, 192};  // the line under each row, one pixel
inline constexpr Rgb kFree{0, 0, 255};           // waiting, available, anything unknown
inline constexpr Rgb kOwnUse{0, 126, 0};         // in use by this PC
inline constexpr Rgb kOtherUse{255, 0, 0};       // in use by another PC
}  // namespace rowcolour

// Where a row's parts go, relative to the row's rectangle R (the list's full width on the right).
namespace rowgeometry {
inline constexpr int kImageSize = 48;      // images 0-4 by type, overlays 5-7 as overlay 0-2
inline constexpr int kImageLeft = 12;      // image at (R.left + 12, R.top)
inline constexpr int kTextLeft = 68;       // both texts start at R.left + 68
inline constexpr int kCaptionTop = 8;      // caption from R.top + 8 ...
inline constexpr int kCaptionBottom = 24;  // ... to R.top + 24
inline constexpr int kStateTop = 28;       // state text from R.top + 28 to R.bottom - 1
}  // namespace rowgeometry

struct RowLook {
  std::string caption;    // black
  std::string stateText;  // in stateColour
  Rgb stateColour = rowcolour::kFree;
  int overlayIndex = -1;  // -1 none; 0 own use, 1 other's use, 2 available
  int imageIndex = 4;  // in the 48-pixel list: MFP 0, PRINTER 1, MASS STORAGE 2, SCANNER 3, other 4
};

// `computerName` is this PC's: an owner equal to it (exactly) is "this computer".
RowLook LookOfRow(const DeviceData& device, const std::string& computerName);

// The list's order: rows whose type contains "UNKNOWN" (exact case) last; otherwise by type,
// manufacturer, product, then device number text, each without regard to case (so "10" before
// "9").
bool RowLess(const DeviceData& a, const DeviceData& b);

}  // namespace tessaro
