// SPDX-License-Identifier: GPL-2.0-or-later
// Resolution fields of the page files: pels per metre in a BMP, the JFIF density of a JPEG.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tessaro {

inline constexpr size_t kBmpXPelsOffset = 38;
inline constexpr size_t kBmpYPelsOffset = 42;
// The JFIF marker is looked for only this far into a JPEG file.
inline constexpr size_t kJfifSearchLength = 64;

// dpi × 39.37 + 0.5, truncated: 300 → 11811, 200 → 7874, 100 → 3937.
int32_t DpiToPelsPerMeter(int32_t dpi);
// The way back, rounded to the nearest dpi: 3937 → 100, 11811 → 300.
int32_t PelsPerMeterToDpi(int32_t pelsPerMeter);

// Where "JFIF" starts within the first 64 bytes of `head`, if it does.
std::optional<size_t> FindJfif(std::span<const uint8_t> head);
// Writes units 1 and the X and Y density (big-endian) after the marker in a JPEG held in memory;
// false (nothing changed) when there is no marker or no room for the five bytes.
bool SetJfifDensity(std::span<uint8_t> jpeg, int32_t dpi);
// The Y density after the marker; 0 without a marker or when the bytes are not all there.
int32_t GetJfifDensity(std::span<const uint8_t> head);

// Writes both pels-per-metre fields of an existing BMP file in place; false when the file cannot
// be opened for writing, is not a regular file (a FIFO, a device, a folder) or is too short to be
// a BMP.
bool StampBmpResolution(const std::string& file, int32_t dpi);
// Writes the density after the file's JFIF marker; a file without one, or anything but a regular
// file, is left as it is. Errors are ignored.
void WriteJfifDensity(const std::string& file, int32_t dpi);
// The Y density of the file's JFIF header; 0 without a marker, when it cannot be read or when it
// is not a regular file.
int32_t ReadJfifDensity(const std::string& file);

}  // namespace tessaro
