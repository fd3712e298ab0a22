// SPDX-License-Identifier: GPL-2.0-or-later
// BMP pages to JPEG and JPEG back to pixels for previews, through libjpeg-turbo.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "scanning/BmpReader.h"

namespace tessaro {

inline constexpr int kJpegQuality = 75;

// Holds one codec instance for a run of pages, so pages reuse it.
class JpegEncoder {
 public:
  JpegEncoder();
  JpegEncoder(const JpegEncoder&) = delete;
  JpegEncoder& operator=(const JpegEncoder&) = delete;
  ~JpegEncoder();

  // Called with the stored rows the encoder has finished with, so a mapped page can let go of them.
  using RowsDone = std::function<void(std::span<const uint8_t>)>;

  // Compresses at quality 75 with 4:2:0 sampling (grey pages as one channel) and the accurate
  // DCT, then sets the JFIF density to `dpi`. Rows of 24- and 32-bit pages are read where they
  // lie; palette pages are spelled out one row at a time. Empty on failure.
  std::vector<uint8_t> Encode(const BmpImage& image, int32_t dpi, const RowsDone& rowsDone = {});

 private:
  struct State;
  State* state_;
};

// What converting one page gave.
struct ConvertedPage {
  int32_t width = 0;
  int32_t height = 0;
};

// Reads the BMP `source`, writes the JPEG `destination` whole or not at all (never replacing an
// existing file unless `replace`) with its JFIF density set to `dpi`. Nullopt on any failure.
std::optional<ConvertedPage> ConvertBmpToJpeg(JpegEncoder& encoder, const std::string& source,
                                              const std::string& destination, int32_t dpi,
                                              bool replace);

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
