// SPDX-License-Identifier: GPL-2.0-or-later
#include "protocol/TypeWords.h"

#include "base/AsciiText.h"

namespace tessaro::wire {

bool IsPrinterType(std::string_view typeWord) {
  return EqualsNoCase(typeWord, "PRINTER") || EqualsNoCase(typeWord, "MFP");
}

}  // namespace tessaro::wire
