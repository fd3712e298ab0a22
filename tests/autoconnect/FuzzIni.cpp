// SPDX-License-Identifier: GPL-2.0-or-later
// Any bytes as an INI file: parsing and every look-up must stay inside the text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto ini =
      tessaro::IniFile::Parse(std::string_view(reinterpret_cast<const char*>(data), size));
  for (const auto& section : ini.SectionNames()) {
    for (const auto& key : ini.KeyNames(section)) (void)ini.ReadString(section, key);
  }
  return 0;
}
