// SPDX-License-Identifier: GPL-2.0-or-later
// BMP pages to JPEG and JPEG back to pixels for previews, through libjpeg-turbo.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/AtomicFile.h"
#include "scanning/pages/BmpReader.h"

namespace tessaro {

inline constexpr int kJpegQuality = 75;

// Holds one codec instance for a run of pages, so pages reuse it and its buffers.
class JpegEncoder {
 public:
  JpegEncoder();
  JpegEncoder(const JpegEncoder&) = delete;
  JpegEncoder& operator=(const JpegEncoder&) = delete;
  ~JpegEncoder();

  // Compresses at quality 75 with 4:2:0 sampling (grey pages as one channel) and the accurate
  // DCT, with the JFIF density `dpi` dots per inch. Rows of 24- and 32-bit pages are read where
  // they lie; palette pages are spelled out a batch of rows at a time. Empty on failure.
  std::vector<uint8_t> Encode(const BmpImage& image, int32_t dpi);
  // The same for a page whose rows are still in the open file `rowsFd` (at image.pixelOffset):
  // they are read a batch at a time into one buffer kept for the next page, and the JPEG goes to
  // `out` a chunk at a time as it is made. False on any failure, a read error, a file cut short
  // or a failed write included.
  bool EncodeFile(const BmpImage& image, int rowsFd, int32_t dpi, PendingFile& out);

 private:
  struct State;
  // Rows from `rowsFd`, or from memory when it is -1; the JPEG to `file`, or else to `bytes`.
  bool Run(const BmpImage& image, int rowsFd, int32_t dpi, PendingFile* file,
           std::vector<uint8_t>* bytes);
  State* state_;
};

// One page compressed into the temporary file of its JPEG, not yet given its name.
struct EncodedPage {
  int32_t width = 0;
  int32_t height = 0;
  std::unique_ptr<PendingFile> file;
};

// Reads the BMP file `source` and compresses it into a PendingFile for `destination`, the JFIF
// density set to `dpi`. Nullopt when it is not a page we can read or the file cannot be written
// (its temporary file is then gone).
std::optional<EncodedPage> EncodeBmpFile(JpegEncoder& encoder, const std::string& source,
                                         const std::string& destination, int32_t dpi);

struct DecodedImage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgb;  // width × height × 3, top row first
};

// Decodes a JPEG at 1/`denominator` of its size (1, 2, 4 or 8; previews use 8). Nullopt when
// it is not a JPEG we can decode or it is larger than any page we write.
std::optional<DecodedImage> DecodeJpegScaled(std::span<const uint8_t> jpeg, int denominator);
std::optional<DecodedImage> DecodeJpegFileScaled(const std::string& path, int denominator);

}  // namespace tessaro
