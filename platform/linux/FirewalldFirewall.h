// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <vector>

#include "platform/Firewall.h"

namespace tessaro {

// firewalld on the system bus, spoken to through the `busctl` command. The active profile is
// firewalld's default zone; ports are opened in its runtime configuration. firewalld filters by
// port, never by program, so a program is always let in while firewalld answers.
class FirewalldFirewall : public Firewall {
 public:
  uint32_t Connect() override;
  uint32_t OpenProfile() override;
  Entry FindPort(long port, int protocol) override;
  Entry FindApplication(const std::string& imagePath) override;
  uint32_t AddPort(long port, int protocol, const std::string& name) override;
  uint32_t AddApplication(const std::string& imagePath, const std::string& name) override;

 private:
  struct Reply {
    bool ok = false;
    std::string text;  // standard output and error together
  };
  static Reply Busctl(const std::vector<std::string>& args);
  Reply CallFirewalld(const std::string& interface, const std::string& method,
                      const std::vector<std::string>& signatureAndArgs);

  bool running_ = false;
  std::string zone_;
};

}  // namespace tessaro
