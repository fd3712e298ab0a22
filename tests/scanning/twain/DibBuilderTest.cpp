// SPDX-License-Identifier: GPL-2.0-or-later
// Scanner frames made into DIBs: every layout a scanner sends, checked by reading the result back
// as a bitmap file, and parameters no page can have.
#include <gtest/gtest.h>

#include <cstring>
#include <variant>

#include "scanning/pages/BmpReader.h"
#include "scanning/twain/DibBuilder.h"
#include "scanning/twain/GlobalBlock.h"

namespace tessaro::twain {
namespace {

// The DIB behind a 14-byte file header, as a page file holds it.
std::vector<uint8_t> AsFile(TW_HANDLE dib) {
  const auto* bytes = static_cast<const uint8_t*>(GlobalBlockLock(dib));
  const std::size_t size = GlobalBlockSize(dib);
  uint32_t colours = 0;
  std::memcpy(&colours, bytes + 32, 4);
  std::vector<uint8_t> file(14 + size, 0);
  file[0] = 'B';
  file[1] = 'M';
  const auto put = [&](std::size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  put(2, static_cast<uint32_t>(14 + size));
  put(10, 14 + 40 + 4 * colours);
  std::memcpy(file.data() + 14, bytes, size);
  return file;
}

struct LayoutCase {
  const char* name;
  FrameFormat format;
  int32_t depth;
  int32_t padding;  // bytes a scanner adds at a row's end
  uint16_t bitCount;
  // The sample bytes of pixel (x, y) and the DIB pixel they must give.
  std::vector<uint8_t> (*sample)(int32_t x, int32_t y);
  std::array<uint8_t, 3> (*expected)(int32_t x, int32_t y);  // red, green, blue
};

const LayoutCase kLayouts[] = {
    {"grey8", FrameFormat::kGray, 8, 0, 8,
     [](int32_t x, int32_t y) { return std::vector<uint8_t>{static_cast<uint8_t>(x * 16 + y)}; },
     [](int32_t x, int32_t y) {
       const auto v = static_cast<uint8_t>(x * 16 + y);
       return std::array<uint8_t, 3>{v, v, v};
     }},
    // 16-bit samples in the machine's order: the high byte is the grey level.
    {"grey16", FrameFormat::kGray, 16, 2, 8,
     [](int32_t x, int32_t y) {
       const auto v = static_cast<uint16_t>((x * 16 + y) << 8 | 0x7F);
       std::vector<uint8_t> bytes(2);
       std::memcpy(bytes.data(), &v, 2);
       return bytes;
     },
     [](int32_t x, int32_t y) {
       const auto v = static_cast<uint8_t>(x * 16 + y);
       return std::array<uint8_t, 3>{v, v, v};
     }},
    {"rgb8", FrameFormat::kRgb, 8, 3, 24,
     [](int32_t x, int32_t y) {
       return std::vector<uint8_t>{static_cast<uint8_t>(x), static_cast<uint8_t>(y), 200};
     },
     [](int32_t x, int32_t y) {
       return std::array<uint8_t, 3>{static_cast<uint8_t>(x), static_cast<uint8_t>(y), 200};
     }},
    {"rgb16", FrameFormat::kRgb, 16, 0, 24,
     [](int32_t x, int32_t y) {
       const uint16_t v[3] = {static_cast<uint16_t>(x << 8), static_cast<uint16_t>(y << 8 | 0xFF),
                              0xC800};
       std::vector<uint8_t> bytes(6);
       std::memcpy(bytes.data(), v, 6);
       return bytes;
     },
     [](int32_t x, int32_t y) {
       return std::array<uint8_t, 3>{static_cast<uint8_t>(x), static_cast<uint8_t>(y), 200};
     }},
};

std::array<uint8_t, 3> PixelAt(const BmpImage& image, int32_t x, int32_t y) {
  const auto row = image.Row(y);
  if (image.bitCount == 24) return {row[3 * x + 2], row[3 * x + 1], row[3 * x]};
  const auto& entry = image.palette.at(row[x]);
  return {entry[2], entry[1], entry[0]};
}

TEST(DibBuilderTest, EveryFrameLayoutReadsBackAsTheBitmapItShows) {
  constexpr int32_t kWidth = 5, kLines = 3;  // odd widths exercise the row padding
  for (const auto& layout : kLayouts) {
    SCOPED_TRACE(layout.name);
    const int32_t samples = layout.format == FrameFormat::kRgb ? 3 : 1;
    FrameParameters frame{
        layout.format, true,   kWidth * samples * layout.depth / 8 + layout.padding,
        kWidth,        kLines, layout.depth};
    std::vector<uint8_t> data;
    for (int32_t y = 0; y < kLines; ++y) {
      for (int32_t x = 0; x < kWidth; ++x) {
        const auto bytes = layout.sample(x, y);
        data.insert(data.end(), bytes.begin(), bytes.end());
      }
      data.insert(data.end(), static_cast<std::size_t>(layout.padding), 0xEE);
    }
    const auto built = BuildDib(frame, data, 300);
    ASSERT_TRUE(built) << built.error();
    TW_HANDLE dib = *built;
    const auto file = AsFile(dib);
    const auto parsed = ParseBmp(file);
    ASSERT_TRUE(std::holds_alternative<BmpImage>(parsed)) << std::get<BmpError>(parsed).reason;
    const auto& image = std::get<BmpImage>(parsed);
    EXPECT_EQ(image.bitCount, layout.bitCount);
    EXPECT_TRUE(image.bottomUp);
    EXPECT_EQ(image.width, kWidth);
    EXPECT_EQ(image.height, kLines);
    EXPECT_EQ(image.yPelsPerMeter, 11811);  // 300 dpi
    for (int32_t y = 0; y < kLines; ++y) {
      for (int32_t x = 0; x < kWidth; ++x) {
        EXPECT_EQ(PixelAt(image, x, y), layout.expected(x, y)) << x << "," << y;
      }
    }
    GlobalBlockFree(dib);
  }
}

TEST(DibBuilderTest, LineArtKeepsItsBitsWithSetBitsBlack) {
  // 10 pixels: 1100000001 on the top row, all white below.
  FrameParameters frame{FrameFormat::kGray, true, 2, 10, 2, 1};
  const std::vector<uint8_t> data = {0xC0, 0x40, 0x00, 0x00};
  const auto built = BuildDib(frame, data, 150);
  ASSERT_TRUE(built) << built.error();
  TW_HANDLE dib = *built;
  const auto file = AsFile(dib);
  const auto parsed = ParseBmp(file);
  ASSERT_TRUE(std::holds_alternative<BmpImage>(parsed));
  const auto& image = std::get<BmpImage>(parsed);
  EXPECT_EQ(image.bitCount, 1);
  EXPECT_EQ(image.palette.at(1), (std::array<uint8_t, 3>{0, 0, 0}));
  EXPECT_EQ(image.palette.at(0), (std::array<uint8_t, 3>{255, 255, 255}));
  EXPECT_EQ(image.Row(0)[0], 0xC0);
  EXPECT_EQ(image.Row(0)[1], 0x40);
  EXPECT_EQ(image.Row(1)[0], 0x00);
  GlobalBlockFree(dib);
}

TEST(DibBuilderTest, AFrameOfUnknownLengthEndsWhereItsDataEnds) {
  FrameParameters frame{FrameFormat::kGray, true, 4, 4, -1, 8};
  const std::vector<uint8_t> data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  const auto built = BuildDib(frame, data, 100);
  ASSERT_TRUE(built) << built.error();
  TW_HANDLE dib = *built;
  const auto file = AsFile(dib);
  const auto parsed = ParseBmp(file);
  ASSERT_TRUE(std::holds_alternative<BmpImage>(parsed));
  const auto& image = std::get<BmpImage>(parsed);
  EXPECT_EQ(image.height, 3);
  EXPECT_EQ(image.Row(0)[0], 1);  // the first row sent is the top one
  EXPECT_EQ(image.Row(2)[3], 12);
  GlobalBlockFree(dib);
}

TEST(DibBuilderTest, RefusesFramesNoPageCanHaveAndPagesThatArriveShort) {
  struct Case {
    const char* name;
    FrameParameters frame;
    std::size_t bytes;  // of data offered; 0 means what the frame announces
  };
  const Case cases[] = {
      {"zero width", {FrameFormat::kGray, true, 0, 0, 10, 8}, 0},
      {"negative width", {FrameFormat::kGray, true, 10, -10, 10, 8}, 0},
      {"enormous width", {FrameFormat::kGray, true, 70000, 70000, 1, 8}, 0},
      {"zero lines", {FrameFormat::kGray, true, 10, 10, 0, 8}, 10},
      {"more pixels than a page", {FrameFormat::kRgb, true, 60000 * 3, 60000, 60000, 8}, 1},
      {"rows shorter than their pixels", {FrameFormat::kRgb, true, 20, 10, 2, 8}, 0},
      {"rows absurdly longer than their pixels", {FrameFormat::kGray, true, 1 << 30, 10, 2, 8}, 1},
      {"depth 4", {FrameFormat::kGray, true, 5, 10, 2, 4}, 0},
      {"colour in three passes", {FrameFormat::kRed, false, 10, 10, 2, 8}, 0},
      {"one bit per colour", {FrameFormat::kRgb, true, 4, 10, 2, 1}, 0},
      {"fewer rows than announced", {FrameFormat::kGray, true, 10, 10, 4, 8}, 30},
      {"a row cut short", {FrameFormat::kGray, true, 10, 10, 4, 8}, 35},
      {"no data at all", {FrameFormat::kGray, true, 10, 10, -1, 8}, 1},
      {"more rows than announced", {FrameFormat::kGray, true, 10, 10, 2, 8}, 30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::size_t size = c.bytes;
    if (size == 0) size = static_cast<std::size_t>(std::max(c.frame.bytesPerLine, 0)) * 4;
    if (c.bytes == 1) size = 0;
    const std::vector<uint8_t> data(size, 0x55);
    const auto built = BuildDib(c.frame, data, 300);
    ASSERT_FALSE(built);
    EXPECT_FALSE(built.error().empty());
  }
}

}  // namespace
}  // namespace tessaro::twain
