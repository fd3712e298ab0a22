// SPDX-License-Identifier: GPL-2.0-or-later
// Arbitrary event records: the first four bytes are the (signed) byte count of the read.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "driver/EventRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const auto count = static_cast<int32_t>(static_cast<uint32_t>(data[0]) | (data[1] << 8) |
                                          (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24));
  std::vector<uint8_t> buffer(tessaro::kEventBufferSize, 0);
  for (size_t i = 4; i < size && i - 4 < buffer.size(); ++i) buffer[i - 4] = data[i];
  tessaro::ParseEventRecord(buffer, count);
  std::vector<uint8_t> exact(data + 4, data + size);
  tessaro::ParseEventRecord(exact, count);
  return 0;
}
