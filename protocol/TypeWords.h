// SPDX-License-Identifier: GPL-2.0-or-later
// The type words a device server reports its devices by, as every program reads them.
#pragma once

#include <string_view>

namespace tessaro::wire {

// A device that prints: type word "PRINTER" or "MFP", compared without regard to case.
bool IsPrinterType(std::string_view typeWord);

}  // namespace tessaro::wire
