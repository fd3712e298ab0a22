// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/twain/PictureExport.h"

#include <strings.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "base/AtomicFile.h"
#include "scanning/pages/ImageFormats.h"
#include "scanning/pages/JpegCodec.h"
#include "scanning/pages/PageNames.h"
#include "scanning/pages/PdfBuilder.h"

namespace tessaro::twain {
namespace {

bool HasExtension(const std::string& file, const char* ext) {
  const std::string found = SplitTarget(file).ext;
  return ::strcasecmp(found.c_str(), ext) == 0;
}

std::vector<uint8_t> ReadAll(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

bool WriteAll(const std::string& target, const std::vector<uint8_t>& bytes, bool replace) {
  PendingFile file(target);
  return !bytes.empty() && file.ok() && file.Write(bytes) && file.Commit(replace);
}

// A 24-bit bottom-up bitmap of decoded RGB rows.
std::vector<uint8_t> BitmapOf(const DecodedImage& image) {
  const auto stride = (static_cast<uint32_t>(image.width) * 3 + 3) / 4 * 4;
  const uint32_t imageBytes = stride * static_cast<uint32_t>(image.height);
  std::vector<uint8_t> bmp(54 + imageBytes, 0);
  auto put = [&](std::size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bmp[at + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  bmp[0] = 'B';
  bmp[1] = 'M';
  put(2, static_cast<uint32_t>(bmp.size()));
  put(10, 54);
  put(14, 40);
  put(18, static_cast<uint32_t>(image.width));
  put(22, static_cast<uint32_t>(image.height));
  bmp[26] = 1;
  bmp[28] = 24;
  put(34, imageBytes);
  for (int32_t y = 0; y < image.height; ++y) {
    const uint8_t* in = image.rgb.data() + static_cast<std::size_t>(y) * image.width * 3;
    uint8_t* out = bmp.data() + 54 + static_cast<std::size_t>(image.height - 1 - y) * stride;
    for (int32_t x = 0; x < image.width; ++x) {
      out[3 * x] = in[3 * x + 2];
      out[3 * x + 1] = in[3 * x + 1];
      out[3 * x + 2] = in[3 * x];
    }
  }
  return bmp;
}

}  // namespace

ExportResult ExportPicture(const std::string& source, const std::string& target, int32_t dpi,
                           bool replace) {
  const bool fromBmp = HasExtension(source, ".bmp");
  const bool toJpeg = HasExtension(target, ".jpg") || HasExtension(target, ".jpeg");
  const bool toBmp = HasExtension(target, ".bmp");
  const bool toPdf = HasExtension(target, ".pdf");
  if (!toJpeg && !toBmp && !toPdf) return ExportResult::kNothingToWrite;
  bool written = false;
  if (toBmp) {
    if (fromBmp) {
      written = WriteAll(target, ReadAll(source), replace);
    } else if (const auto image = DecodeJpegFileScaled(source, 1)) {
      written = WriteAll(target, BitmapOf(*image), replace);
    }
    written = written && StampBmpResolution(target, dpi);
  } else if (fromBmp) {
    JpegEncoder encoder;
    // For a PDF the JPEG stays a temporary file: the document takes it from there.
    auto page = EncodeBmpFile(encoder, source, toPdf ? target + ".jpg" : target, dpi);
    if (page && toJpeg) written = page->file->Commit(replace);
    if (page && toPdf) {
      PdfBuilder pdf;
      written = pdf.ok() && page->file->CloseTemp() &&
                pdf.AddJpegPage(page->file->tempPath(), page->width, page->height) &&
                pdf.Save(target, replace);
    }
  } else if (toJpeg) {
    written = WriteAll(target, ReadAll(source), replace);
    if (written) WriteJfifDensity(target, dpi);
  } else if (const auto image = DecodeJpegFileScaled(source, 1)) {
    PdfBuilder pdf;
    written = pdf.ok() && pdf.AddJpegPage(source, image->width, image->height) &&
              pdf.Save(target, replace);
  }
  return written ? ExportResult::kWritten : ExportResult::kFailed;
}

}  // namespace tessaro::twain
