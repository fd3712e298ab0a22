// SPDX-License-Identifier: GPL-2.0-or-later
#include "busd/Log.h"

#include "base/Ipv4Text.h"

namespace tessaro::busd {

std::string IpText(uint32_t ipNetworkOrder) { return FormatIpv4(ipNetworkOrder); }

}  // namespace tessaro::busd
