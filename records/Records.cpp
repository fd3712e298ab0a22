// SPDX-License-Identifier: GPL-2.0-or-later
#include "records/Records.h"

#include "records/UnnamedSlots.h"

namespace tessaro {

std::string ServerDisplayName(const std::string& name, const std::string& ip) {
  return name + " - " + ip;
}

std::string MakeDeviceIdentityText(const std::string& vendorId, const std::string& productId,
                                   const std::string& serial) {
  return vendorId + " - " + productId + " - " + serial;
}

std::string ScannerIdentityText(const std::string& vendorId, const std::string& productId) {
  return "Vid_" + vendorId + "&Pid_" + productId;
}

bool IsUnnamedDevice(const std::string& manufacturer, const std::string& product) {
  return manufacturer.empty() && product.empty();
}

std::string DeviceDisplayName(const std::string& manufacturer, const std::string& product) {
  if (IsUnnamedDevice(manufacturer, product)) return kUnnamedDeviceCaption;
  return manufacturer + " - " + product;
}

}  // namespace tessaro
