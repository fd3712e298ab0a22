// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "platform/Firewall.h"

namespace tessaro::testing {

// A machine without a firewall service: every step fails as when none is registered.
class AbsentFirewall : public Firewall {
 public:
  uint32_t Connect() override { return kClassNotRegistered; }
  uint32_t OpenProfile() override { return 0; }
  Entry FindPort(long, int) override { return {}; }
  Entry FindApplication(const std::string&) override { return {}; }
  uint32_t AddPort(long, int, const std::string&) override { return 0; }
  uint32_t AddApplication(const std::string&, const std::string&) override { return 0; }
};

}  // namespace tessaro::testing
