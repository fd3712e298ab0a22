// SPDX-License-Identifier: GPL-2.0-or-later
// Any frame parameters and any bytes after them: making the DIB must refuse or succeed without
// reading past the input, and a DIB it makes must hold exactly its header, palette and rows.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "scanning/twain/DibBuilder.h"
#include "scanning/twain/GlobalBlock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tessaro;
  if (size < 18) return 0;
  int32_t fields[4];
  std::memcpy(fields, data, sizeof fields);
  FrameParameters frame;
  frame.format = static_cast<FrameFormat>(data[16] % 5);
  frame.depth = data[17];
  frame.bytesPerLine = fields[0];
  frame.pixelsPerLine = fields[1];
  frame.lines = fields[2];
  frame.lastFrame = true;
  // Keep the fuzzer on small pages: large ones are refused or allocated, nothing else differs.
  if (int64_t{frame.pixelsPerLine} * frame.lines > (1 << 20)) return 0;
  const auto built =
      twain::BuildDib(frame, std::span<const uint8_t>(data + 18, size - 18), fields[3]);
  if (!built) {
    if (built.error().empty()) __builtin_trap();
    return 0;
  }
  twain::TW_HANDLE dib = *built;
  if (dib == nullptr) __builtin_trap();
  const auto* bytes = static_cast<const uint8_t*>(twain::GlobalBlockLock(dib));
  uint32_t sizeImage = 0, colours = 0;
  std::memcpy(&sizeImage, bytes + 20, 4);
  std::memcpy(&colours, bytes + 32, 4);
  if (twain::GlobalBlockSize(dib) != 40 + 4 * uint64_t{colours} + sizeImage) __builtin_trap();
  twain::GlobalBlockFree(dib);
  return 0;
}
