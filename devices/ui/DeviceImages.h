// SPDX-License-Identifier: GPL-2.0-or-later
// The pictures of the device list and its menu, drawn in code so they stay sharp at any scale.
#pragma once

#include <QPixmap>

namespace tessaro {

// 48 x 48 type images: 0 MFP, 1 printer, 2 mass storage, 3 scanner, 4 unknown.
inline constexpr int kTypeImageCount = 5;
// Overlays drawn over a type image: 0 in use here, 1 in use by another PC, 2 available.
inline constexpr int kOverlayCount = 3;
// 20 x 20 menu images: 0 Connect, 1 Disconnect, 4 Request To Use (2 and 3 are blank).
inline constexpr int kMenuImageCount = 5;

QPixmap TypeImage(int index, qreal devicePixelRatio = 1.0);
QPixmap OverlayImage(int index, qreal devicePixelRatio = 1.0);
// The type image with the overlay (or none for -1) drawn over it.
QPixmap TypeImageWithOverlay(int index, int overlay, qreal devicePixelRatio = 1.0);
QPixmap MenuImage(int index, qreal devicePixelRatio = 1.0);
// The same as TypeImageWithOverlay, drawn once per combination and kept (GUI thread only): rows
// are painted far more often than their pictures change.
const QPixmap& CachedTypeImage(int index, int overlay, qreal devicePixelRatio = 1.0);

}  // namespace tessaro
