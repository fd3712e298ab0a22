// SPDX-License-Identifier: GPL-2.0-or-later
// Arbitrary version and address replies: the first byte picks the returned size.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "driver/ReplyParsers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint32_t claimed = data[0];
  std::vector<uint8_t> buffer(tessaro::kQueryBufferSize, 0);
  for (size_t i = 1; i < size && i - 1 < buffer.size(); ++i) buffer[i - 1] = data[i];
  tessaro::ParseVersion(buffer, claimed);
  tessaro::ParseSpurAddress(buffer, claimed);
  std::vector<uint8_t> exact(data + 1, data + size);
  tessaro::ParseVersion(exact, claimed);
  tessaro::ParseSpurAddress(exact, claimed);
  return 0;
}
