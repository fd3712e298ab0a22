// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/pages/ImageFormats.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "base/FileHandle.h"
#include "scanning/pages/MappedFile.h"

namespace tessaro {

namespace {

constexpr size_t kUnitsOffset = 7;   // counted from the "J"
constexpr size_t kDensityBytes = 5;  // units, X high, X low, Y high, Y low
constexpr size_t kBmpMinimumSize = kBmpYPelsOffset + 4;

std::array<uint8_t, kDensityBytes> DensityBytes(int32_t dpi) {
  const auto high = static_cast<uint8_t>((dpi >> 8) & 0xFF);
  const auto low = static_cast<uint8_t>(dpi & 0xFF);
  return {1, high, low, high, low};
}

bool PWriteAll(int fd, const uint8_t* data, size_t length, off_t offset) {
  while (length > 0) {
    const ssize_t n = ::pwrite(fd, data, length, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

}  // namespace

int32_t DpiToPelsPerMeter(int32_t dpi) {
  return static_cast<int32_t>(static_cast<double>(dpi) * 39.37 + 0.5);
}

int32_t PelsPerMeterToDpi(int32_t pelsPerMeter) {
  return static_cast<int32_t>(static_cast<double>(pelsPerMeter) / 39.37 + 0.5);
}

std::optional<size_t> FindJfif(std::span<const uint8_t> head) {
  static constexpr std::array<uint8_t, 4> kMarker{'J', 'F', 'I', 'F'};
  const auto window = head.first(std::min(head.size(), kJfifSearchLength));
  const auto it = std::search(window.begin(), window.end(), kMarker.begin(), kMarker.end());
  if (it == window.end()) return std::nullopt;
  return static_cast<size_t>(it - window.begin());
}

bool SetJfifDensity(std::span<uint8_t> jpeg, int32_t dpi) {
  const auto at = FindJfif(jpeg);
  if (!at || *at + kUnitsOffset + kDensityBytes > jpeg.size()) return false;
  const auto bytes = DensityBytes(dpi);
  std::memcpy(jpeg.data() + *at + kUnitsOffset, bytes.data(), bytes.size());
  return true;
}

int32_t GetJfifDensity(std::span<const uint8_t> head) {
  const auto at = FindJfif(head);
  if (!at || *at + kUnitsOffset + kDensityBytes > head.size()) return 0;
  const size_t y = *at + kUnitsOffset + 3;
  return (head[y] << 8) | head[y + 1];
}

bool StampBmpResolution(const std::string& file, int32_t dpi) {
  // Only a regular file is stamped: never a device, and never a FIFO waited on.
  const UniqueFd fd = OpenRegularFile(file, O_RDWR);
  if (!fd.valid()) return false;
  std::array<uint8_t, kBmpMinimumSize> head{};
  if (ReadAt(fd.get(), head, 0) < head.size() || head[0] != 'B' || head[1] != 'M') return false;
  const auto ppm = static_cast<uint32_t>(DpiToPelsPerMeter(dpi));
  const std::array<uint8_t, 8> fields{
      static_cast<uint8_t>(ppm),       static_cast<uint8_t>(ppm >> 8),
      static_cast<uint8_t>(ppm >> 16), static_cast<uint8_t>(ppm >> 24),
      static_cast<uint8_t>(ppm),       static_cast<uint8_t>(ppm >> 8),
      static_cast<uint8_t>(ppm >> 16), static_cast<uint8_t>(ppm >> 24)};
  return PWriteAll(fd.get(), fields.data(), fields.size(), kBmpXPelsOffset);
}

void WriteJfifDensity(const std::string& file, int32_t dpi) {
  const UniqueFd fd = OpenRegularFile(file, O_RDWR);
  if (!fd.valid()) return;
  // Only bytes the file already has are written: a short file is never made longer.
  std::array<uint8_t, kJfifSearchLength + kUnitsOffset + kDensityBytes> head{};
  const size_t got = ReadAt(fd.get(), head, 0);
  const auto at = FindJfif(std::span<const uint8_t>(head.data(), got));
  if (!at || *at + kUnitsOffset + kDensityBytes > got) return;
  const auto bytes = DensityBytes(dpi);
  PWriteAll(fd.get(), bytes.data(), bytes.size(), static_cast<off_t>(*at + kUnitsOffset));
}

int32_t ReadJfifDensity(const std::string& file) {
  const UniqueFd fd = OpenRegularFile(file, O_RDONLY);
  if (!fd.valid()) return 0;
  // The marker may sit near the end of the 64-byte window, so read enough for its density too.
  std::array<uint8_t, kJfifSearchLength + kUnitsOffset + kDensityBytes> head{};
  const size_t got = ReadAt(fd.get(), head, 0);
  return GetJfifDensity(std::span<const uint8_t>(head.data(), got));
}

}  // namespace tessaro
