// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/pages/JpegCodec.h"

#include <fcntl.h>
#include <jpeglib.h>
#include <stdio.h>  // jpeglib.h needs FILE first
#include <sys/stat.h>
#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdlib>
#include <memory>
#include <new>
#include <variant>

#include "base/FileHandle.h"
#include "scanning/pages/MappedFile.h"

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
void ExpandPaletteRow(const BmpImage& image, std::span<const uint8_t> row, bool grey,
                      uint8_t* dst) {
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
constexpr size_t kOutputChunk = 64 * 1024;

// Where Compress finds the stored rows of a batch: in memory (fd < 0), or read from the file
// into `buffer`, which holds kRowsPerBatch stored rows. Reading a batch into one small buffer
// that stays in the processor's cache costs less than mapping the page, fault by fault.
struct RowSource {
  const BmpImage* image;
  int fd;
  uint8_t* buffer;
};

// Points `stored[i]` at the stored row of line first + i (counted from the top); false when the
// file does not give all of them.
bool FetchRows(const RowSource& source, int32_t first, int32_t count, const uint8_t** stored) {
  const BmpImage& image = *source.image;
  if (source.fd < 0) {
    for (int32_t i = 0; i < count; ++i) stored[i] = image.Row(first + i).data();
    return true;
  }
  // The batch's stored rows are one run of bytes, whichever way up the page is.
  const int32_t lowest = image.bottomUp ? image.height - first - count : first;
  const size_t bytes = image.stride * static_cast<size_t>(count);
  const uint64_t at = image.pixelOffset + uint64_t{image.stride} * static_cast<uint64_t>(lowest);
  if (ReadAt(source.fd, std::span<uint8_t>(source.buffer, bytes), at) != bytes) return false;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t slot = image.bottomUp ? count - 1 - i : i;
    stored[i] = source.buffer + image.stride * static_cast<size_t>(slot);
  }
  return true;
}

// The codec's output, one chunk at a time, to a pending file or into memory: a chunk written
// while it is still in the processor's cache costs less than a whole page copied afterwards.
struct Sink {
  jpeg_destination_mgr manager{};         // first: the codec's destination is the sink
  PendingFile* file = nullptr;            // the bytes go to this file,
  std::vector<uint8_t>* bytes = nullptr;  // or, without one, into memory
  std::span<uint8_t> chunk;
  bool failed = false;  // the rest of the page is dropped, and the page fails
};

Sink& SinkOf(j_compress_ptr codec) { return *reinterpret_cast<Sink*>(codec->dest); }

void Deliver(Sink& sink, size_t count) {
  if (sink.failed || count == 0) return;
  const auto part = sink.chunk.first(count);
  if (sink.file != nullptr) {
    sink.failed = !sink.file->Write(part);
    return;
  }
  try {
    sink.bytes->insert(sink.bytes->end(), part.begin(), part.end());
  } catch (const std::bad_alloc&) {
    sink.failed = true;  // no exception may cross the codec
  }
}

void StartChunk(j_compress_ptr codec) {
  Sink& sink = SinkOf(codec);
  codec->dest->next_output_byte = sink.chunk.data();
  codec->dest->free_in_buffer = sink.chunk.size();
}

boolean ChunkFull(j_compress_ptr codec) {
  Deliver(SinkOf(codec), SinkOf(codec).chunk.size());
  StartChunk(codec);
  return TRUE;
}

void LastChunk(j_compress_ptr codec) {
  Sink& sink = SinkOf(codec);
  Deliver(sink, sink.chunk.size() - codec->dest->free_in_buffer);
}

}  // namespace

struct JpegEncoder::State {
  jpeg_compress_struct codec{};
  ErrorJump error{};
  std::vector<uint8_t> readBuffer;  // stored rows read from a file, one batch
  std::vector<uint8_t> rowBuffer;   // palette rows spelled out, one batch
  std::vector<uint8_t> chunk = std::vector<uint8_t>(kOutputChunk);  // compressed, not yet out
  bool ready = false;
};

namespace {

// Everything between setjmp and a possible longjmp is plain data: no destructor is skipped.
bool Compress(jpeg_compress_struct* codec, ErrorJump* error, const RowSource* source,
              uint8_t* rowBuffer, int32_t dpi, Sink* sink) {
  if (setjmp(error->jump) != 0) {
    jpeg_abort_compress(codec);
    return false;
  }
  const BmpImage* image = source->image;
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
  // The JFIF field holds the density's low 16 bits, in dots per inch.
  codec->density_unit = 1;
  codec->X_density = codec->Y_density = static_cast<UINT16>(dpi);
  sink->manager.init_destination = StartChunk;
  sink->manager.empty_output_buffer = ChunkFull;
  sink->manager.term_destination = LastChunk;
  codec->dest = &sink->manager;
  jpeg_start_compress(codec, TRUE);
  const size_t expandedRow = static_cast<size_t>(image->width) * (grey ? 1 : 3);
  const uint8_t* stored[kRowsPerBatch];
  JSAMPROW rows[kRowsPerBatch];
  while (codec->next_scanline < codec->image_height) {
    const auto first = static_cast<int32_t>(codec->next_scanline);
    const int32_t count = std::min(kRowsPerBatch, image->height - first);
    if (!FetchRows(*source, first, count, stored)) {
      jpeg_abort_compress(codec);
      return false;
    }
    for (int32_t i = 0; i < count; ++i) {
      if (palette) {
        uint8_t* dst = rowBuffer + static_cast<size_t>(i) * expandedRow;
        ExpandPaletteRow(*image, std::span<const uint8_t>(stored[i], image->stride), grey, dst);
        rows[i] = dst;
      } else {
        rows[i] = const_cast<JSAMPROW>(stored[i]);
      }
    }
    jpeg_write_scanlines(codec, rows, static_cast<JDIMENSION>(count));
  }
  jpeg_finish_compress(codec);
  return !sink->failed;
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
  delete state_;
}

std::vector<uint8_t> JpegEncoder::Encode(const BmpImage& image, int32_t dpi) {
  if (image.pixels.size() != image.stride * static_cast<size_t>(image.height)) return {};
  std::vector<uint8_t> jpeg;
  if (!Run(image, -1, dpi, nullptr, &jpeg)) return {};
  return jpeg;
}

bool JpegEncoder::EncodeFile(const BmpImage& image, int rowsFd, int32_t dpi, PendingFile& out) {
  return rowsFd >= 0 && Run(image, rowsFd, dpi, &out, nullptr);
}

bool JpegEncoder::Run(const BmpImage& image, int rowsFd, int32_t dpi, PendingFile* file,
                      std::vector<uint8_t>* bytes) {
  if (!state_->ready || image.width <= 0 || image.height <= 0) return false;
  if (rowsFd >= 0 && state_->readBuffer.size() < image.stride * kRowsPerBatch) {
    state_->readBuffer.resize(image.stride * kRowsPerBatch);
  }
  if (image.bitCount <= 8) {
    state_->rowBuffer.resize(static_cast<size_t>(image.width) * 3 * kRowsPerBatch);
  }
  Sink sink;
  sink.file = file;
  sink.bytes = bytes;
  sink.chunk = state_->chunk;
  const RowSource source{&image, rowsFd, state_->readBuffer.data()};
  const bool ok =
      Compress(&state_->codec, &state_->error, &source, state_->rowBuffer.data(), dpi, &sink);
  state_->codec.dest = nullptr;  // the sink lives only for this page
  return ok;
}

std::optional<EncodedPage> EncodeBmpFile(JpegEncoder& encoder, const std::string& source,
                                         const std::string& destination, int32_t dpi) {
  // A page that is a FIFO, a device or a folder fails here, without waiting for a writer.
  struct stat st {};
  const UniqueFd fd = OpenRegularFile(source, O_RDONLY, &st);
  if (!fd.valid()) return std::nullopt;
  std::array<uint8_t, kBmpHeadBytes> head{};
  const size_t got = ReadAt(fd.get(), head, 0);
  const auto parsed =
      ParseBmpHeader(std::span<const uint8_t>(head.data(), got), static_cast<uint64_t>(st.st_size));
  const auto* image = std::get_if<BmpImage>(&parsed);
  if (image == nullptr) return std::nullopt;
  EncodedPage page{image->width, image->height, std::make_unique<PendingFile>(destination)};
  if (!page.file->ok() || !encoder.EncodeFile(*image, fd.get(), dpi, *page.file)) {
    return std::nullopt;  // the pending file goes with `page`
  }
  return page;
}

std::optional<DecodedImage> DecodeJpegScaled(std::span<const uint8_t> jpeg, int denominator) {
  if (denominator != 1 && denominator != 2 && denominator != 4 && denominator != 8)
    return std::nullopt;
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
