// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/twain/ScanWindowRules.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>
#include <vector>

#include "base/AtomicFile.h"
#include "scanning/twain/GlobalBlock.h"

namespace tessaro::twain {
namespace {

// The shortest general form of a number: 1.5, 2, 20.9.
std::string General(double value) {
  std::ostringstream text;
  text.precision(15);
  text << value;
  return text.str();
}

uint32_t Le32(const uint8_t* at) {
  return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

void PutLe32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

std::optional<std::string> FindFreeTarget(const std::string& stem, const std::string& ext,
                                          const std::function<bool(const std::string&)>& exists) {
  const auto taken = [&](const std::string& s) {
    return exists(s + "." + ext) || exists(s + ".bmp") || exists(s + ".jpg");
  };
  if (!taken(stem)) return stem + "." + ext;
  for (int i = 1; i <= 1000; ++i) {
    const std::string numbered = stem + std::to_string(i);
    if (!taken(numbered)) return numbered + "." + ext;
  }
  return std::nullopt;
}

PictureTexts DescribePicture(int32_t width, int32_t height, int32_t bits, int32_t dpi) {
  PictureTexts texts;
  int64_t mmWidth = 0, mmHeight = 0;
  if (dpi > 0) {
    mmWidth = static_cast<int64_t>(static_cast<double>(width) / dpi * 25.4);
    mmHeight = static_cast<int64_t>(static_cast<double>(height) / dpi * 25.4);
  }
  const auto bytes = static_cast<int64_t>(static_cast<double>(width) * height * bits * 0.125);
  if (bytes > 1024 && bytes < 1048576) {
    texts.size = General(static_cast<double>(
                             static_cast<int64_t>(static_cast<double>(bytes) / 1024.0 * 10 + 0.5)) *
                         0.1) +
                 " KB";
  } else if (bytes >= 1048576) {
    texts.size = General(static_cast<double>(static_cast<int64_t>(
                             static_cast<double>(bytes) / 1048576.0 * 10 + 0.5)) *
                         0.1) +
                 " MB";
  } else {
    texts.size = std::to_string(bytes) + " Bytes";
  }
  texts.bits = std::to_string(bits) + " bit(s)";
  texts.pixels = std::to_string(width) + " x " + std::to_string(height) + " pixels";
  if (dpi > 0 && mmWidth > 0) {
    texts.cm = General(static_cast<double>(mmWidth) / 10.0) + " x " +
               General(static_cast<double>(mmHeight) / 10.0) + " cm";
    texts.dpi = std::to_string(dpi) + " dpi";
  }
  return texts;
}

int32_t ZoomInScale(int32_t scale) {
  if (scale >= 300) return scale;
  return scale + 10 - scale % 10;
}

int32_t ZoomOutScale(int32_t scale, int32_t minScale) {
  if (minScale >= scale) return scale;
  return std::max(scale - (10 - scale % 10), minScale);
}

namespace {

void Centre(PreviewPlace& place, int32_t panelWidth, int32_t panelHeight) {
  place.left = std::max((panelWidth - place.width) / 2, 8);
  place.top = std::max((panelHeight - place.height) / 2, 8);
}

}  // namespace

PreviewPlace FitPreview(int32_t pictureWidth, int32_t pictureHeight, int32_t panelWidth,
                        int32_t panelHeight) {
  PreviewPlace place;
  if (pictureWidth > 0 && pictureHeight > 0) {
    const float ratio = static_cast<float>(pictureHeight) / static_cast<float>(pictureWidth);
    place.width = pictureWidth;
    place.height = pictureHeight;
    if (place.width > panelWidth - 16) {
      place.width = panelWidth - 16;
      place.height = static_cast<int32_t>(static_cast<float>(place.width) * ratio);
    }
    if (place.height > panelHeight - 16) {
      place.height = panelHeight - 16;
      place.width = static_cast<int32_t>(static_cast<float>(place.height) / ratio);
    }
    place.scalePercent =
        static_cast<int32_t>(static_cast<double>(place.width) / pictureWidth * 100);
  }
  Centre(place, panelWidth, panelHeight);
  return place;
}

PreviewPlace ScalePreview(int32_t pictureWidth, int32_t pictureHeight, int32_t scalePercent,
                          int32_t panelWidth, int32_t panelHeight) {
  PreviewPlace place;
  place.scalePercent = scalePercent;
  place.width = static_cast<int32_t>(pictureWidth * scalePercent * 0.01);
  place.height = static_cast<int32_t>(pictureHeight * scalePercent * 0.01);
  Centre(place, panelWidth, panelHeight);
  return place;
}

int32_t NextPage(int32_t index, int32_t count) { return index + 1 >= count ? 0 : index + 1; }

int32_t PreviousPage(int32_t index, int32_t count) {
  return index <= 0 ? std::max(count - 1, 0) : index - 1;
}

std::optional<int32_t> ResolutionTarget(int32_t dpi, int32_t bits) {
  const bool usual = bits == 1 || bits == 8 || bits == 24;
  if (usual ? dpi > 600 : dpi >= 600) return 600;
  return std::nullopt;
}

bool WriteBmpFile(TW_HANDLE dib, const std::string& path, bool replace) {
  auto* bytes = static_cast<uint8_t*>(GlobalBlockLock(dib));
  const std::size_t size = GlobalBlockSize(dib);
  if (bytes == nullptr || size < 40) return false;
  const uint32_t headerSize = Le32(bytes);
  const auto width = static_cast<int32_t>(Le32(bytes + 4));
  const auto height = static_cast<int32_t>(Le32(bytes + 8));
  const uint16_t bitCount = static_cast<uint16_t>(bytes[14] | bytes[15] << 8);
  const uint32_t compression = Le32(bytes + 16);
  uint64_t colours = Le32(bytes + 32);
  if (colours == 0 && bitCount <= 8) colours = uint64_t{1} << bitCount;
  if (headerSize < 40 || headerSize > size || width <= 0 || height == 0 || colours > 256) {
    GlobalBlockUnlock(dib);
    return false;
  }
  if (compression == 0) {
    const uint64_t stride = (uint64_t{static_cast<uint32_t>(width)} * bitCount + 31) / 32 * 4;
    const uint64_t image = stride * static_cast<uint64_t>(std::abs(int64_t{height}));
    if (image > UINT32_MAX) {
      GlobalBlockUnlock(dib);
      return false;
    }
    PutLe32(bytes + 20, static_cast<uint32_t>(image));
  } else if (Le32(bytes + 20) == 0) {
    GlobalBlockUnlock(dib);
    return false;
  }
  // The rows follow the file header, the info header (40 bytes or one of its longer kinds) and
  // the palette.
  const uint64_t offBits = 14 + uint64_t{headerSize} + 4 * colours;
  const uint64_t fileSize = offBits + Le32(bytes + 20);
  // A DIB shorter than its header says would be read past its end: refused, not written.
  if (fileSize - 14 > size) {
    GlobalBlockUnlock(dib);
    return false;
  }
  uint8_t header[14] = {'B', 'M'};
  PutLe32(header + 2, static_cast<uint32_t>(fileSize));
  PutLe32(header + 10, static_cast<uint32_t>(offBits));
  PendingFile file(path);
  const bool written = file.ok() && file.Write({header, sizeof header}) &&
                       file.Write({bytes, static_cast<std::size_t>(fileSize - 14)}) &&
                       file.Commit(replace);
  GlobalBlockUnlock(dib);
  return written;
}

}  // namespace tessaro::twain
