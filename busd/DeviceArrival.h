// SPDX-License-Identifier: GPL-2.0-or-later
// Notices, in the device lists servers report, the devices that have just become linked to this
// PC, so that each is recorded once per link (and once more whenever what its server says about
// it changes).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "protocol/HubWire.h"

namespace tessaro::busd {

class DeviceArrival {
 public:
  using OnArrival = std::function<void(uint32_t serverIp, const wire::DeviceInfo& device)>;

  DeviceArrival(std::string computerName, OnArrival onArrival)
      : computerName_(std::move(computerName)), onArrival_(std::move(onArrival)) {}

  // A server's whole device list, as it arrives.
  void Update(uint32_t serverIp, const std::vector<wire::DeviceInfo>& devices);

 private:
  std::string computerName_;
  OnArrival onArrival_;
  // Per server, the devices linked to this PC in its last list, without owner and lock.
  std::map<uint32_t, std::vector<wire::DeviceInfo>> linked_;
};

}  // namespace tessaro::busd
