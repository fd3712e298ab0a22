// SPDX-License-Identifier: GPL-2.0-or-later
// Arbitrary text as a device server's config file. A config that reads has its devices in
// order of their numbers, each number once; one that does not names the file in its error line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "hubd/Config.h"

using namespace tessaro::hubd;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const ConfigResult result = ParseConfig(text, "fuzz.conf");
  if (!result.config) {
    Check(result.error.starts_with("fuzz.conf"));
    return 0;
  }
  const auto& devices = result.config->devices;
  for (size_t i = 1; i < devices.size(); ++i) Check(devices[i - 1].number < devices[i].number);
  return 0;
}
