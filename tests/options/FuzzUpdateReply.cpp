// SPDX-License-Identifier: GPL-2.0-or-later
// Whatever the update server answers is read without a crash, and the versions it yields
// compare consistently.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "options/UpdateReply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  const auto reply = tessaro::ReadUpdateReply(body);
  if (reply && reply->hasVersion) {
    const std::string version = reply->VersionText();
    if (tessaro::VersionIsNewer(version, version)) std::abort();
    tessaro::GlobalDownloadAddress(reply->sites);
    tessaro::ReleaseDateText(reply->date);
  }
  // Two halves of the input as versions: never both newer than each other.
  const std::string_view a = body.substr(0, size / 2);
  const std::string_view b = body.substr(size / 2);
  if (tessaro::VersionIsNewer(a, b) && tessaro::VersionIsNewer(b, a)) std::abort();
  return 0;
}
