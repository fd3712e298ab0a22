// SPDX-License-Identifier: GPL-2.0-or-later
// The bitmap reader on good and broken pages, and the JPEG it leads to.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <variant>

#include "base/AtomicFile.h"
#include "scanning/pages/BmpReader.h"
#include "scanning/pages/ImageFormats.h"
#include "scanning/pages/JpegCodec.h"
#include "tests/support/PageFixtures.h"

using namespace tessaro;
using namespace tessaro::testing;

namespace {

bool Rejected(const std::vector<uint8_t>& bytes) {
  return std::holds_alternative<BmpError>(ParseBmp(bytes));
}

TEST(BmpReaderTest, EveryBrokenHeaderFieldIsRefused) {
  struct Case {
    const char* fault;
    std::function<void(std::vector<uint8_t>&)> spoil;
  };
  const Case cases[] = {
      {"not a bitmap", [](auto& b) { b[0] = 'P'; }},
      {"cut inside the file header", [](auto& b) { b.resize(10); }},
      {"cut inside the info header", [](auto& b) { b.resize(30); }},
      {"old core header", [](auto& b) { PutU32(b, 14, 12); }},
      {"unknown header size", [](auto& b) { PutU32(b, 14, 64); }},
      {"two planes", [](auto& b) { PutU16(b, 26, 2); }},
      {"16 bits per pixel", [](auto& b) { PutU16(b, 28, 16); }},
      {"0 bits per pixel", [](auto& b) { PutU16(b, 28, 0); }},
      {"RLE8 compression", [](auto& b) { PutU32(b, 30, 1); }},
      {"bit fields", [](auto& b) { PutU32(b, 30, 3); }},
      {"embedded JPEG", [](auto& b) { PutU32(b, 30, 4); }},
      {"zero width", [](auto& b) { PutU32(b, 18, 0); }},
      {"negative width", [](auto& b) { PutU32(b, 18, static_cast<uint32_t>(-8)); }},
      {"zero height", [](auto& b) { PutU32(b, 22, 0); }},
      {"smallest height", [](auto& b) { PutU32(b, 22, 0x80000000u); }},
      {"side past the JPEG limit", [](auto& b) { PutU32(b, 18, 70000); }},
      {"absurd pixel count",
       [](auto& b) {
         PutU32(b, 18, 60000);
         PutU32(b, 22, 60000);
       }},
      {"last pixel byte missing", [](auto& b) { b.pop_back(); }},
      {"pixel offset past the end", [](auto& b) { PutU32(b, 10, 0xFFFFFFF0u); }},
      {"pixel offset inside the header", [](auto& b) { PutU32(b, 10, 20); }},
  };
  ASSERT_FALSE(Rejected(MakeBmp({})));
  for (const auto& c : cases) {
    auto bytes = MakeBmp({});
    c.spoil(bytes);
    EXPECT_TRUE(Rejected(bytes)) << c.fault;
  }
}

TEST(BmpReaderTest, BrokenPalettesAreRefused) {
  auto tooMany = MakeBmp({.bitCount = 8});
  PutU32(tooMany, 46, 257);
  EXPECT_TRUE(Rejected(tooMany));
  auto pixelsInPalette = MakeBmp({.bitCount = 8});
  PutU32(pixelsInPalette, 10, 54 + 16);  // the pixels would start inside the 256-entry table
  EXPECT_TRUE(Rejected(pixelsInPalette));
  auto fewerColours = MakeBmp({.bitCount = 8});
  PutU32(fewerColours, 46, 16);  // a shorter table is fine
  const auto parsed = ParseBmp(fewerColours);
  ASSERT_TRUE(std::holds_alternative<BmpImage>(parsed));
  EXPECT_EQ(std::get<BmpImage>(parsed).palette.size(), 16u);
}

TEST(BmpReaderTest, TheHeaderAloneFindsTheRowsInTheFile) {
  // A palette page larger than the header bytes read, so the check of its rows can only use the
  // file's size.
  const auto bmp = MakeBmp({.width = 40, .height = 30, .bitCount = 8});
  ASSERT_GT(bmp.size(), kBmpHeadBytes);
  const auto head = std::span<const uint8_t>(bmp).first(kBmpHeadBytes);
  const auto parsed = ParseBmpHeader(head, bmp.size());
  ASSERT_TRUE(std::holds_alternative<BmpImage>(parsed));
  const auto& image = std::get<BmpImage>(parsed);
  EXPECT_EQ(image.pixelOffset, 54u + 256 * 4);
  EXPECT_EQ(image.palette.size(), 256u);
  EXPECT_TRUE(image.pixels.empty());
  EXPECT_TRUE(std::holds_alternative<BmpError>(ParseBmpHeader(head, bmp.size() - 1)));
  // Bytes the file does not have are not header bytes, whatever the buffer holds.
  EXPECT_TRUE(std::holds_alternative<BmpError>(ParseBmpHeader(head, 40)));
}

TEST(BmpReaderTest, HeaderFieldsOfAGoodPage) {
  struct Case {
    BmpSpec spec;
    size_t stride;
  };
  const Case cases[] = {
      {{.width = 5, .height = 3, .bitCount = 24}, 16},
      {{.width = 5, .height = 3, .bitCount = 24, .topDown = true}, 16},
      {{.width = 5, .height = 3, .bitCount = 32}, 20},
      {{.width = 5, .height = 3, .bitCount = 8}, 8},
      {{.width = 33, .height = 3, .bitCount = 1}, 8},
  };
  for (const auto& c : cases) {
    const auto parsed = ParseBmp(MakeBmp(c.spec));
    ASSERT_TRUE(std::holds_alternative<BmpImage>(parsed)) << c.spec.bitCount;
    const auto& image = std::get<BmpImage>(parsed);
    EXPECT_EQ(image.width, c.spec.width);
    EXPECT_EQ(image.height, c.spec.height);
    EXPECT_EQ(image.bottomUp, !c.spec.topDown);
    EXPECT_EQ(image.stride, c.stride) << c.spec.bitCount;
    EXPECT_EQ(image.pixels.size(), c.stride * 3);
  }
}

// Decodes the converted page and compares its colours with the painted ones, top and bottom.
void ExpectSamePicture(const BmpSpec& spec, bool grey) {
  JpegEncoder encoder;
  const auto bmp = MakeBmp(spec);
  const auto parsed = ParseBmp(bmp);
  ASSERT_TRUE(std::holds_alternative<BmpImage>(parsed));
  const auto jpeg = encoder.Encode(std::get<BmpImage>(parsed), 300);
  ASSERT_FALSE(jpeg.empty());
  EXPECT_EQ(GetJfifDensity(jpeg), 300);
  const auto decoded = DecodeJpegScaled(jpeg, 1);
  ASSERT_TRUE(decoded);
  ASSERT_EQ(decoded->width, spec.width);
  ASSERT_EQ(decoded->height, spec.height);
  for (const int32_t y : {1, spec.height - 2}) {
    const size_t at = (static_cast<size_t>(y) * static_cast<size_t>(spec.width) + 2) * 3;
    const int red = decoded->rgb[at];
    const int blue = decoded->rgb[at + 2];
    EXPECT_NEAR(red, ExpectedRed(2, y, spec.width, spec.height), 30)
        << "bits " << spec.bitCount << " y " << y;
    if (!grey) {
      EXPECT_NEAR(blue, ExpectedBlue(2, y, spec.width, spec.height), 30)
          << "bits " << spec.bitCount << " y " << y;
    } else {
      EXPECT_EQ(red, blue);
    }
  }
}

TEST(JpegCodecTest, EveryLayoutComesOutTheRightWayUp) {
  ExpectSamePicture({.width = 32, .height = 32, .bitCount = 24}, false);
  ExpectSamePicture({.width = 32, .height = 32, .bitCount = 24, .topDown = true}, false);
  ExpectSamePicture({.width = 31, .height = 33, .bitCount = 32}, false);
  ExpectSamePicture({.width = 32, .height = 32, .bitCount = 8}, false);
  ExpectSamePicture({.width = 32, .height = 32, .bitCount = 8, .greyPalette = true}, true);
  ExpectSamePicture({.width = 35, .height = 32, .bitCount = 1, .greyPalette = true}, true);
  ExpectSamePicture({.width = 35, .height = 32, .bitCount = 1}, false);
}

// The page written to a file of `keepBytes` bytes and encoded from it, its rows read a batch at
// a time, into a JPEG file beside it; empty when that fails, and then no JPEG file is left.
std::vector<uint8_t> EncodeThroughFiles(JpegEncoder& encoder, const std::vector<uint8_t>& bmp,
                                        size_t keepBytes) {
  TempFolder dir;
  WriteBytes(dir / "page.bmp", bmp);
  std::filesystem::resize_file(dir / "page.bmp", keepBytes);
  const auto parsed = ParseBmp(bmp);  // the header as it was read before the file got shorter
  EXPECT_TRUE(std::holds_alternative<BmpImage>(parsed));
  const int fd = ::open((dir / "page.bmp").c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_GE(fd, 0);
  bool written = false;
  {
    PendingFile jpeg(dir / "page.jpg");
    written = encoder.EncodeFile(std::get<BmpImage>(parsed), fd, 300, jpeg) && jpeg.Commit(false);
  }
  ::close(fd);
  if (!written) {
    EXPECT_EQ(dir.Names(), (std::set<std::string>{"page.bmp"}));
    return {};
  }
  return ReadBytes(dir / "page.jpg");
}

TEST(JpegCodecTest, RowsReadFromTheFileGiveTheSameJpegAsRowsInMemory) {
  // Heights that end in a part batch, both row orders, padded rows and palette pages.
  const BmpSpec specs[] = {
      {.width = 37, .height = 45, .bitCount = 24},
      {.width = 37, .height = 45, .bitCount = 24, .topDown = true},
      {.width = 21, .height = 16, .bitCount = 32},
      {.width = 30, .height = 33, .bitCount = 8, .topDown = true},
      {.width = 35, .height = 17, .bitCount = 1, .greyPalette = true},
  };
  JpegEncoder encoder;  // one encoder for all, as a saving thread uses it
  for (const auto& spec : specs) {
    const auto bmp = MakeBmp(spec);
    const auto inMemory = encoder.Encode(std::get<BmpImage>(ParseBmp(bmp)), 300);
    ASSERT_FALSE(inMemory.empty());
    EXPECT_EQ(EncodeThroughFiles(encoder, bmp, bmp.size()), inMemory)
        << spec.width << "x" << spec.height << " bits " << spec.bitCount << " top down "
        << spec.topDown;
  }
}

TEST(JpegCodecTest, APageThatGetsShorterWhileReadFails) {
  JpegEncoder encoder;
  const auto bmp = MakeBmp({.width = 40, .height = 64});
  EXPECT_TRUE(EncodeThroughFiles(encoder, bmp, bmp.size() - 1).empty());
  EXPECT_TRUE(EncodeThroughFiles(encoder, bmp, 60).empty());
  // The encoder is still good for the next page.
  EXPECT_FALSE(EncodeThroughFiles(encoder, bmp, bmp.size()).empty());
}

TEST(JpegCodecTest, AJpegLargerThanOneOutputChunkComesOutWhole) {
  // Noise does not compress: the JPEG runs to several of the encoder's output chunks.
  BmpSpec spec{.width = 800, .height = 600};
  auto bmp = MakeBmp(spec);
  uint32_t state = 12345;
  for (size_t i = 54; i < bmp.size(); ++i) {
    state = state * 1103515245u + 12345u;
    bmp[i] = static_cast<uint8_t>(state >> 24);
  }
  JpegEncoder encoder;
  const auto jpeg = EncodeThroughFiles(encoder, bmp, bmp.size());
  ASSERT_GT(jpeg.size(), 2u * 64 * 1024);
  EXPECT_EQ(jpeg, encoder.Encode(std::get<BmpImage>(ParseBmp(bmp)), 300));
  const auto decoded = DecodeJpegScaled(jpeg, 1);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->width, 800);
  EXPECT_EQ(GetJfifDensity(jpeg), 300);
}

TEST(JpegCodecTest, PaletteIndexPastTheTableReadsAsBlack) {
  auto bmp = MakeBmp({.width = 16, .height = 16, .bitCount = 8, .greyPalette = true});
  PutU32(bmp, 46, 2);  // two colours, but the pixels use indexes up to 230
  const auto parsed = ParseBmp(bmp);
  ASSERT_TRUE(std::holds_alternative<BmpImage>(parsed));
  JpegEncoder encoder;
  const auto decoded = DecodeJpegScaled(encoder.Encode(std::get<BmpImage>(parsed), 100), 1);
  ASSERT_TRUE(decoded);
  EXPECT_LT(decoded->rgb[(16 + 2) * 3], 30);
}

TEST(JpegCodecTest, ScaledDecodingForPreviews) {
  JpegEncoder encoder;
  const auto parsed = ParseBmp(MakeBmp({.width = 80, .height = 41}));
  const auto jpeg = encoder.Encode(std::get<BmpImage>(parsed), 200);
  const auto eighth = DecodeJpegScaled(jpeg, 8);
  ASSERT_TRUE(eighth);
  EXPECT_EQ(eighth->width, 10);
  EXPECT_EQ(eighth->height, 6);  // rounded up
  EXPECT_EQ(eighth->rgb.size(), 10u * 6 * 3);
  EXPECT_FALSE(DecodeJpegScaled(jpeg, 3));
  EXPECT_FALSE(DecodeJpegScaled(std::vector<uint8_t>(100, 0x55), 8));
  EXPECT_FALSE(DecodeJpegScaled(std::span(jpeg).first(20), 8));
  EXPECT_FALSE(DecodeJpegScaled({}, 8));
  // A frame header that claims a page bigger than any we write is refused before decoding.
  auto huge = jpeg;
  for (size_t i = 0; i + 8 < huge.size(); ++i) {
    if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
      huge[i + 5] = huge[i + 7] = 0xFD;  // height and width 65000
      huge[i + 6] = huge[i + 8] = 0xE8;
      break;
    }
  }
  ASSERT_NE(huge, jpeg);
  EXPECT_FALSE(DecodeJpegScaled(huge, 8));
}

TEST(JpegCodecTest, QualityAndSamplingMatchTheClassicCodecDefaults) {
  // Quality 75 gives this first luminance quantiser entry (16 × 50 / 100 = 8), and 4:2:0
  // shows as 2×2 sampling of the first component in the frame header.
  JpegEncoder encoder;
  const auto jpeg =
      encoder.Encode(std::get<BmpImage>(ParseBmp(MakeBmp({.width = 16, .height = 16}))), 300);
  size_t dqt = 0, sof = 0;
  for (size_t i = 0; i + 1 < jpeg.size() && (dqt == 0 || sof == 0); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDB && dqt == 0) dqt = i;
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0 && sof == 0) sof = i;
  }
  ASSERT_NE(dqt, 0u);
  ASSERT_NE(sof, 0u);
  EXPECT_EQ(jpeg[dqt + 5], 8);
  EXPECT_EQ(jpeg[sof + 9], 3);      // three components
  EXPECT_EQ(jpeg[sof + 11], 0x22);  // first component 2×2
}

}  // namespace
