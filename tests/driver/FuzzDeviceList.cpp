// SPDX-License-Identifier: GPL-2.0-or-later
// Arbitrary device-list replies: the first two bytes pick the returned size the driver claims.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "driver/ReplyParsers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint32_t claimed = static_cast<uint32_t>(data[0] | (data[1] << 8));
  std::vector<uint8_t> buffer(tessaro::kDeviceListBufferSize, 0);
  for (size_t i = 2; i < size && i - 2 < buffer.size(); ++i) buffer[i - 2] = data[i];
  tessaro::ParseDeviceList(buffer, claimed);
  std::vector<uint8_t> exact(data + 2, data + size);
  tessaro::ParseDeviceList(exact, claimed);
  return 0;
}
