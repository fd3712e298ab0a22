// SPDX-License-Identifier: GPL-2.0-or-later
#include "records/DeviceKey.h"

#include "records/Records.h"

namespace tessaro {

bool DeviceKey::SameDeviceAs(const DeviceKey& other) const {
  return serverMac == other.serverMac && vendorId == other.vendorId &&
         productId == other.productId && serial == other.serial;
}

std::string DeviceKey::IdentityText() const {
  return MakeDeviceIdentityText(vendorId, productId, serial);
}

std::string DeviceKey::EntryName() const {
  return ServerEntryName(serverIp, serverMac) + "&Vid_" + vendorId + "&Pid_" + productId + "&SNo_" +
         serial;
}

std::string ServerEntryName(const std::string& ip, const std::string& mac) {
  return "IP_" + ip + "&MAC_" + mac;
}

}  // namespace tessaro
