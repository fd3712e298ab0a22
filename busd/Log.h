// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>

#include "base/Logger.h"

namespace tessaro::busd {

std::string IpText(uint32_t ipNetworkOrder);

}  // namespace tessaro::busd
