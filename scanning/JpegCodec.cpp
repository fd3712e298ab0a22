// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/JpegCodec.h"

#include <stdio.h>  // jpeglib.h needs FILE first
#include <jpeglib.h>
#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdlib>

#include <memory>
#include <variant>

#include "scanning/AtomicFile.h"
#include "scanning/ImageFormats.h"
#include "scanning/MappedFile.h"

namespace tessaro {

namespace {

// A JPEG bigger than any page we write is refused before the codec allocates for it. A
// progressive one is held to less, as the codec keeps all its coefficients in memory.
constexpr int64_t kMaxProgressivePixels = int64_t{1} << 24;
// The decoded picture itself stays below 48 MB (an A4 page at 300 dpi decodes whole).
constexpr int64_t kMaxDecodedPixels = int64_t{1} << 24;

// True when the frame header before the first scan is a progressive one. Walks the marker
// segments by their lengths, never past the buffer.
bool Progressive(std::span<const uint8_t> jpeg) {
  size_t at = 2;
  while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
    const uint8_t marker = jpeg[at + 1];
    if (marker == 0xDA) return false;  // start of scan: no progressive frame seen
    if (marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE) return true;
    at += 2 + static_cast<size_t>((jpeg[at + 2] << 8) | jpeg[at + 3]);
  }
  return false;
}

struct FreeDeleter {
  void operator()(unsigned char* p) const { std::free(p); }
};

struct TjDestroy {
  void operator()(void* h) const { tjDestroy(h); }
};

// Spells out one stored row of a palette page as grey bytes or RGB triples.
void ExpandPaletteRow(const BmpImage& image, std::span<const uint8_t> row, bool grey, uint8_t* dst) {
  const unsigned bits = image.bitCount;
  const unsigned mask = (1u << bits) - 1;
  const size_t perByte = 8 / bits;
  for (size_t x = 0; x < static_cast<size_t>(image.width); ++x) {
    const unsigned shift = static_cast<unsigned>(8 - bits * (x % perByte + 1));
    const unsigned index = (row[x / perByte] >> shift) & mask;
    // An index past the palette reads as black rather than past the table.
    const std::array<uint8_t, 3> bgr =
        index < image.palette.size() ? image.palette[index] : std::array<uint8_t, 3>{};
    if (grey) {
      *dst++ = bgr[0];
    } else {
      *dst++ = bgr[2];
      *dst++ = bgr[1];
      *dst++ = bgr[0];
    }
  }
}

// The codec reports errors by calling this, which jumps back out of Compress.
struct ErrorJump {
  jpeg_error_mgr manager;
  jmp_buf jump;
};

[[noreturn]] void OnCodecError(j_common_ptr codec) {
  std::longjmp(reinterpret_cast<ErrorJump*>(codec->err)->jump, 1);
}

void IgnoreCodecMessage(j_common_ptr /*codec*/) {}

constexpr int32_t kRowsPerBatch = 16;
// Rows handed back to the caller in one piece: each hand-back may cost the kernel an address
// cache flush, so it comes in runs of a few megabytes rather than per batch.
constexpr int32_t kRowsPerRelease = 512;

}  // namespace

struct JpegEncoder::State {
  jpeg_compress_struct codec{};
  ErrorJump error{};
  std::vector<uint8_t> rowBuffer;  // palette rows, one batch
  // The compressed output, kept from page to page: growing a fresh buffer for every page costs
  // a page fault per new 4 KiB and a copy per doubling.
  unsigned char* output = nullptr;
  unsigned long outputCapacity = 0;
  bool ready = false;
};

namespace {

// Everything between setjmp and a possible longjmp is plain data: no destructor is skipped.
bool Compress(jpeg_compress_struct* codec, ErrorJump* error, const BmpImage* image,
              uint8_t* rowBuffer, const JpegEncoder::RowsDone* rowsDone, unsigned char** out,
              unsigned long* size) {
  if (setjmp(error->jump) != 0) {
    jpeg_abort_compress(codec);
    return false;
  }
  const bool palette = image->bitCount <= 8;
  const bool grey = palette && image->GreyPalette();
  codec->image_width = static_cast<JDIMENSION>(image->width);
  codec->image_height = static_cast<JDIMENSION>(image->height);
  codec->input_components = grey ? 1 : image->bitCount == 32 ? 4 : 3;
  codec->in_color_space = grey                    ? JCS_GRAYSCALE
                          : palette               ? JCS_RGB
                          : image->bitCount == 32 ? JCS_EXT_BGRX
                                                  : JCS_EXT_BGR;
  jpeg_set_defaults(codec);
  jpeg_set_quality(codec, kJpegQuality, TRUE);
  codec->dct_method = JDCT_ISLOW;
  jpeg_mem_dest(codec, out, size);
  jpeg_start_compress(codec, TRUE);
  const size_t expandedRow = static_cast<size_t>(image->width) * (grey ? 1 : 3);
  JSAMPROW rows[kRowsPerBatch];
  int32_t released = 0;  // rows before this one were handed back already
  while (codec->next_scanline < codec->image_height) {
    const auto first = static_cast<int32_t>(codec->next_scanline);
    const int32_t count = std::min(kRowsPerBatch, image->height - first);
    for (int32_t i = 0; i < count; ++i) {
      const auto stored = image->Row(first + i);
      if (palette) {
        uint8_t* dst = rowBuffer + static_cast<size_t>(i) * expandedRow;
        ExpandPaletteRow(*image, stored, grey, dst);
        rows[i] = dst;
      } else {
        rows[i] = const_cast<JSAMPROW>(stored.data());
      }
    }
    jpeg_write_scanlines(codec, rows, static_cast<JDIMENSION>(count));
    const int32_t done = first + count;
    if (*rowsDone && (done - released >= kRowsPerRelease || done == image->height)) {
      // The stored rows since the last hand-back form one run of bytes, whichever way up the
      // page is.
      const auto a = image->Row(released);
      const auto b = image->Row(done - 1);
      const uint8_t* low = std::min(a.data(), b.data());
      (*rowsDone)(std::span<const uint8_t>(low, image->stride * static_cast<size_t>(done - released)));
      released = done;
    }
  }
  jpeg_finish_compress(codec);
  return true;
}

}  // namespace

JpegEncoder::JpegEncoder() : state_(new State) {
  state_->codec.err = jpeg_std_error(&state_->error.manager);
  state_->error.manager.error_exit = OnCodecError;
  state_->error.manager.output_message = IgnoreCodecMessage;
  if (setjmp(state_->error.jump) == 0) {
    jpeg_create_compress(&state_->codec);
    state_->ready = true;
  }
}

JpegEncoder::~JpegEncoder() {
  if (state_->ready) jpeg_destroy_compress(&state_->codec);
  std::free(state_->output);
  delete state_;
}

std::vector<uint8_t> JpegEncoder::Encode(const BmpImage& image, int32_t dpi, const RowsDone& rowsDone) {
  if (!state_->ready || image.width <= 0 || image.height <= 0) return {};
  if (image.bitCount <= 8) {
    state_->rowBuffer.resize(static_cast<size_t>(image.width) * 3 * kRowsPerBatch);
  }
  if (state_->output == nullptr) {
    // About a bit per pixel is typical of a scanned page at quality 75; the codec grows it.
    state_->outputCapacity = std::max<unsigned long>(
        65536, static_cast<unsigned long>(image.width) * static_cast<unsigned long>(image.height) / 8);
    state_->output = static_cast<unsigned char*>(std::malloc(state_->outputCapacity));
    if (state_->output == nullptr) state_->outputCapacity = 0;
  }
  // The codec writes into our buffer, or into a larger one of its own once ours is full.
  unsigned char* raw = state_->output;
  unsigned long size = state_->outputCapacity;
  const bool ok = Compress(&state_->codec, &state_->error, &image, state_->rowBuffer.data(),
                           &rowsDone, &raw, &size);
  if (raw != state_->output && raw != nullptr) {
    std::free(state_->output);  // adopt the codec's larger buffer for the next pages
    state_->output = raw;
    state_->outputCapacity = size;
  }
  if (!ok || raw == nullptr) return {};
  std::vector<uint8_t> jpeg(raw, raw + size);
  SetJfifDensity(jpeg, dpi);
  return jpeg;
}

std::optional<ConvertedPage> ConvertBmpToJpeg(JpegEncoder& encoder, const std::string& source,
                                              const std::string& destination, int32_t dpi,
                                              bool replace) {
  MappedFile file;
  if (!file.Open(source)) return std::nullopt;
  const auto parsed = ParseBmp(file.bytes());
  const auto* image = std::get_if<BmpImage>(&parsed);
  if (image == nullptr) return std::nullopt;
  const std::vector<uint8_t> jpeg =
      encoder.Encode(*image, dpi, [&file](std::span<const uint8_t> rows) { file.Release(rows); });
  if (jpeg.empty() || !WriteFileAtomically(destination, jpeg, replace)) return std::nullopt;
  return ConvertedPage{image->width, image->height};
}

std::optional<DecodedImage> DecodeJpegScaled(std::span<const uint8_t> jpeg, int denominator) {
  if (denominator != 1 && denominator != 2 && denominator != 4 && denominator != 8) return std::nullopt;
  if (jpeg.empty()) return std::nullopt;
  const std::unique_ptr<void, TjDestroy> handle(tjInitDecompress());
  if (!handle) return std::nullopt;
  int width = 0, height = 0, subsampling = 0, colourspace = 0;
  auto* data = const_cast<unsigned char*>(jpeg.data());
  if (tjDecompressHeader3(handle.get(), data, jpeg.size(), &width, &height, &subsampling,
                          &colourspace) != 0) {
    return std::nullopt;
  }
  const int64_t pixels = int64_t{width} * height;
  if (width <= 0 || height <= 0 || pixels > kBmpMaxPixels ||
      (Progressive(jpeg) && pixels > kMaxProgressivePixels)) {
    return std::nullopt;
  }
  const tjscalingfactor factor{1, denominator};
  DecodedImage out;
  out.width = TJSCALED(width, factor);
  out.height = TJSCALED(height, factor);
  if (int64_t{out.width} * out.height > kMaxDecodedPixels) return std::nullopt;
  out.rgb.resize(static_cast<size_t>(out.width) * static_cast<size_t>(out.height) * 3);
  if (tjDecompress2(handle.get(), data, jpeg.size(), out.rgb.data(), out.width, 0, out.height,
                    TJPF_RGB, TJFLAG_ACCURATEDCT) != 0) {
    return std::nullopt;
  }
  return out;
}

std::optional<DecodedImage> DecodeJpegFileScaled(const std::string& path, int denominator) {
  MappedFile file;
  if (!file.Open(path)) return std::nullopt;
  return DecodeJpegScaled(file.bytes(), denominator);
}

}  // namespace tessaro
