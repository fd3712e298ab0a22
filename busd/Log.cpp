// SPDX-License-Identifier: GPL-2.0-or-later
#include "busd/Log.h"

#include <arpa/inet.h>

namespace tessaro::busd {

std::string IpText(uint32_t ipNetworkOrder) {
  char text[INET_ADDRSTRLEN] = {};
  in_addr a{};
  a.s_addr = ipNetworkOrder;
  ::inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

}  // namespace tessaro::busd
