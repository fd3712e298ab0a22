// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdio>
#include <string>

#include "platform/Firewall.h"

namespace tessaro {

constexpr int kProtocolUdp = 17;

// Lets the program in: true when it already was or has now been let in. Every step prints its
// trace line on `out`; nothing is shown to the user and start-up goes on whatever the answer.
bool AuthorizeApplication(Firewall& firewall, const std::string& imagePath, const std::string& name,
                          std::FILE* out = stdout);

// Opens `port` for `protocol` under `name`, with the same answer and trace lines.
bool OpenFirewallPort(Firewall& firewall, long port, int protocol, const std::string& name,
                      std::FILE* out = stdout);

}  // namespace tessaro
