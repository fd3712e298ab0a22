// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "base/LogText.h"  // for the names from peers in log lines

namespace tessaro::busd {

// One line on stderr, prefixed so that several programs' logs can be told apart.
inline void Log(const std::string& line) { std::fprintf(stderr, "busd: %s\n", line.c_str()); }

std::string IpText(uint32_t ipNetworkOrder);

}  // namespace tessaro::busd
