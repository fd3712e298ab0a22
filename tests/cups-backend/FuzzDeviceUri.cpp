// SPDX-License-Identifier: GPL-2.0-or-later
// Arbitrary text as a queue's device URI. What parses formats back to a URI that parses to the
// same device, and formats the same again; what does not parse says why.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "printing/DeviceUri.h"

using namespace tessaro;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  const auto uri = ParseDeviceUri(text, error);
  if (!uri) {
    Check(!error.empty());
    return 0;
  }
  const std::string formatted = FormatDeviceUri(*uri);
  std::string again;
  const auto reparsed = ParseDeviceUri(formatted, again);
  Check(reparsed.has_value());
  Check(reparsed->mac == uri->mac && reparsed->vendorId == uri->vendorId &&
        reparsed->productId == uri->productId && reparsed->serial == uri->serial);
  Check(FormatDeviceUri(*reparsed) == formatted);
  return 0;
}
