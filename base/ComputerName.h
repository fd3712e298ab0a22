// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace tessaro {

// This PC's computer name, by the one rule busd and every client share: TESSARO_COMPUTERNAME as
// it is when set, otherwise the host name up to its first dot in upper case; at most 63 bytes.
std::string ComputerName();

// The rule itself, for tests: `override` is the variable (nullptr when unset).
std::string ComputerNameFrom(const char* override, const std::string& hostName);

}  // namespace tessaro
