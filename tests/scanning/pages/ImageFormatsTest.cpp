// SPDX-License-Identifier: GPL-2.0-or-later
// Page names, resolution fields of BMP and JPEG files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "scanning/pages/ImageFormats.h"
#include "scanning/pages/JpegCodec.h"
#include "scanning/pages/MappedFile.h"
#include "scanning/pages/PageNames.h"
#include "tests/support/PageFixtures.h"

using namespace tessaro;
using namespace tessaro::testing;

namespace {

TEST(PageNamesTest, PageFilesCountFromTheSecondPage) {
  struct Case {
    int32_t page;
    const char* ext;
    const char* name;
  };
  const Case cases[] = {
      {1, ".bmp", "/s/Picture.bmp"},       {2, ".bmp", "/s/Picture_2.bmp"},
      {3, ".jpg", "/s/Picture_3.jpg"},     {10, ".jpg", "/s/Picture_10.jpg"},
      {120, ".bmp", "/s/Picture_120.bmp"}, {121, ".jpg", "/s/Picture_121.jpg"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PageFileName("/s/Picture", c.page, c.ext), c.name) << c.page;
  }
}

TEST(PageNamesTest, TargetSplitsAtTheLastDotOfTheFileName) {
  struct Case {
    const char* target;
    const char* base;
    const char* ext;
    SaveFormat format;
  };
  const Case cases[] = {
      {"/s/Picture.jpg", "/s/Picture", ".jpg", SaveFormat::Jpg},
      {"/s/Picture.JPG", "/s/Picture", ".JPG", SaveFormat::Jpg},
      {"/s/Scan.Bmp", "/s/Scan", ".Bmp", SaveFormat::Bmp},
      {"/s/a.b/Doc.pdf", "/s/a.b/Doc", ".pdf", SaveFormat::Pdf},
      {"/s/x.pdf.tif", "/s/x.pdf", ".tif", SaveFormat::Other},
      {"/s/a.b/NoExt", "/s/a.b/NoExt", "", SaveFormat::Other},
      {"/s/Picture.jpeg", "/s/Picture", ".jpeg", SaveFormat::Other},
  };
  for (const auto& c : cases) {
    const TargetParts parts = SplitTarget(c.target);
    EXPECT_EQ(parts.base, c.base) << c.target;
    EXPECT_EQ(parts.ext, c.ext) << c.target;
    EXPECT_EQ(parts.format, c.format) << c.target;
  }
}

TEST(ResolutionTest, DpiAndPelsPerMetreBothWays) {
  struct Case {
    int32_t dpi;
    int32_t pelsPerMeter;
  };
  const Case cases[] = {{100, 3937}, {200, 7874},  {300, 11811}, {75, 2953},
                        {150, 5906}, {600, 23622}, {1200, 47244}};
  for (const auto& c : cases) {
    EXPECT_EQ(DpiToPelsPerMeter(c.dpi), c.pelsPerMeter) << c.dpi;
    EXPECT_EQ(PelsPerMeterToDpi(c.pelsPerMeter), c.dpi) << c.pelsPerMeter;
  }
}

TEST(StampBmpResolutionTest, WritesBothFieldsAndNothingElse) {
  TempFolder dir;
  const auto original = MakeBmp({});
  WriteBytes(dir / "p.bmp", original);
  ASSERT_TRUE(StampBmpResolution(dir / "p.bmp", 200));
  auto stamped = ReadBytes(dir / "p.bmp");
  EXPECT_EQ(GetU32(stamped, 38), 7874u);
  EXPECT_EQ(GetU32(stamped, 42), 7874u);
  PutU32(stamped, 38, 0);
  PutU32(stamped, 42, 0);
  EXPECT_EQ(stamped, original);
}

TEST(StampBmpResolutionTest, RefusesWhatItCannotStampSafely) {
  TempFolder dir;
  EXPECT_FALSE(StampBmpResolution(dir / "missing.bmp", 300));
  const std::vector<uint8_t> text(100, 'x');
  WriteBytes(dir / "text.bmp", text);
  EXPECT_FALSE(StampBmpResolution(dir / "text.bmp", 300));
  EXPECT_EQ(ReadBytes(dir / "text.bmp"), text);
  auto shortBmp = MakeBmp({});
  shortBmp.resize(40);
  WriteBytes(dir / "short.bmp", shortBmp);
  EXPECT_FALSE(StampBmpResolution(dir / "short.bmp", 300));
  EXPECT_EQ(ReadBytes(dir / "short.bmp").size(), 40u);
}

// A JPEG head with the marker at `at`: "JFIF\0", version, then units and densities.
std::vector<uint8_t> JpegHead(size_t at, size_t total) {
  std::vector<uint8_t> b(total, 0xAA);
  b[0] = 0xFF;
  b[1] = 0xD8;
  const char marker[] = "JFIF";
  for (size_t i = 0; i < 4 && at + i < total; ++i) b[at + i] = static_cast<uint8_t>(marker[i]);
  return b;
}

TEST(JfifDensityTest, WritesUnitsAndBothDensitiesAfterTheMarker) {
  TempFolder dir;
  const auto head = JpegHead(6, 200);
  WriteBytes(dir / "a.jpg", head);
  WriteJfifDensity(dir / "a.jpg", 300);
  auto written = ReadBytes(dir / "a.jpg");
  const std::vector<uint8_t> density(written.begin() + 13, written.begin() + 18);
  EXPECT_EQ(density, (std::vector<uint8_t>{1, 0x01, 0x2C, 0x01, 0x2C}));
  std::copy(head.begin() + 13, head.begin() + 18, written.begin() + 13);
  EXPECT_EQ(written, head);
  EXPECT_EQ(ReadJfifDensity(dir / "a.jpg"), 300);
}

TEST(JfifDensityTest, ReadsTheYDensityWhateverTheUnits) {
  TempFolder dir;
  auto head = JpegHead(6, 100);
  head[13] = 0;                     // units: none
  head[14] = 0x00, head[15] = 72;   // X
  head[16] = 0x00, head[17] = 200;  // Y
  WriteBytes(dir / "a.jpg", head);
  EXPECT_EQ(ReadJfifDensity(dir / "a.jpg"), 200);
}

TEST(JfifDensityTest, OnlyTheFirst64BytesAreSearched) {
  struct Case {
    size_t markerAt;
    bool found;
  };
  const Case cases[] = {{0, true}, {60, true}, {61, false}, {64, false}, {100, false}};
  for (const auto& c : cases) {
    TempFolder dir;
    const auto head = JpegHead(c.markerAt, 200);
    WriteBytes(dir / "a.jpg", head);
    WriteJfifDensity(dir / "a.jpg", 150);
    const auto after = ReadBytes(dir / "a.jpg");
    EXPECT_EQ(after != head, c.found) << c.markerAt;
    EXPECT_EQ(ReadJfifDensity(dir / "a.jpg"), c.found ? 150 : 0) << c.markerAt;
  }
}

TEST(JfifDensityTest, ShortMissingOrEmptyFilesAreLeftAlone) {
  TempFolder dir;
  EXPECT_EQ(ReadJfifDensity(dir / "missing.jpg"), 0);
  WriteJfifDensity(dir / "missing.jpg", 300);
  EXPECT_FALSE(std::filesystem::exists(dir / "missing.jpg"));
  WriteBytes(dir / "empty.jpg", {});
  EXPECT_EQ(ReadJfifDensity(dir / "empty.jpg"), 0);
  // The marker is there but the file ends before its density: never grown, never read past.
  const auto cut = JpegHead(40, 50);
  WriteBytes(dir / "cut.jpg", cut);
  WriteJfifDensity(dir / "cut.jpg", 300);
  EXPECT_EQ(ReadBytes(dir / "cut.jpg"), cut);
  EXPECT_EQ(ReadJfifDensity(dir / "cut.jpg"), 0);
}

TEST(JfifDensityTest, InMemoryPatchNeedsTheWholeField) {
  auto head = JpegHead(2, 18);
  EXPECT_TRUE(SetJfifDensity(head, 600));
  EXPECT_EQ(GetJfifDensity(head), 600);
  auto cut = JpegHead(2, 13);
  EXPECT_FALSE(SetJfifDensity(cut, 600));
  EXPECT_EQ(cut, JpegHead(2, 13));
}

TEST(PageFileTest, FifosFoldersAndDevicesAreRefusedWithoutBlocking) {
  TempFolder dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  std::filesystem::create_directory(dir / "folder");
  for (const auto& path : {dir / "fifo", dir / "folder", std::string("/dev/zero")}) {
    // In a child with a time limit: an open that waits for a FIFO's writer fails the test
    // instead of stopping the suite.
    const auto seen = RunBounded(
        [&] {
          std::string text = std::to_string(ReadJfifDensity(path));
          WriteJfifDensity(path, 300);
          text += StampBmpResolution(path, 300) ? " stamped" : " refused";
          MappedFile mapped;
          text += mapped.Open(path) ? " mapped" : " unmapped";
          text += DecodeJpegFileScaled(path, 8) ? " decoded" : " undecoded";
          return text;
        },
        std::chrono::seconds(10));
    ASSERT_TRUE(seen) << path << " blocked";
    EXPECT_EQ(*seen, "0 refused unmapped undecoded") << path;
  }
  EXPECT_TRUE(std::filesystem::is_fifo(dir / "fifo"));
}

}  // namespace
