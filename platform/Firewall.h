// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace tessaro {

// The machine's firewall, reduced to what the client asks of it: is a program or a UDP port let
// in by the active profile, and let it in under a display name. Every call answers a result code
// in the Windows HRESULT style (0 is success) so that failures print as the client always has.
class Firewall {
 public:
  struct Entry {
    uint32_t result = 0;  // non-zero: the look-up itself failed
    bool found = false;
    bool enabled = false;
  };

  static constexpr uint32_t kClassNotRegistered = 0x80040154;  // no firewall service at all
  static constexpr uint32_t kServiceNotRunning = 0x800706D9;   // the service is not running
  static constexpr uint32_t kAccessDenied = 0x80070005;
  static constexpr uint32_t kFailed = 0x80004005;

  virtual ~Firewall() = default;

  // Reaching the firewall takes two steps whose failures print differently: the service's
  // presence (the bus), then its active profile (the service runs and answers).
  virtual uint32_t Connect() = 0;
  virtual uint32_t OpenProfile() = 0;

  virtual Entry FindPort(long port, int protocol) = 0;
  virtual Entry FindApplication(const std::string& imagePath) = 0;
  virtual uint32_t AddPort(long port, int protocol, const std::string& name) = 0;
  virtual uint32_t AddApplication(const std::string& imagePath, const std::string& name) = 0;
};

}  // namespace tessaro
