// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/DeviceDescription.h"

#include <string>

namespace tessaro::hubd {

wire::DeviceInfo DescribeDevice(const DeviceConfig& d) {
  wire::DeviceInfo info;
  info.number = d.number;
  info.vendorId = d.vendorId;
  info.productId = d.productId;
  info.type = d.type;
  info.manufacturer = d.manufacturer;
  info.product = d.product;
  info.serial = d.serial;
  const std::pair<const char*, const std::string*> keys[] = {{"class", &d.usbClass},
                                                             {"interfaces", &d.interfaces},
                                                             {"driver-class", &d.driverClass},
                                                             {"dot4", &d.dot4},
                                                             {"sane-device", &d.saneDevice}};
  for (const auto& [key, value] : keys)
    if (!value->empty()) info.descriptors.emplace_back(key, *value);
  return info;
}

bool DeviceListFitsOneFrame(const std::vector<DeviceConfig>& devices) {
  if (devices.size() > wire::kMaxDevices) return false;
  std::vector<wire::DeviceInfo> list;
  for (const DeviceConfig& d : devices) {
    list.push_back(DescribeDevice(d));
    list.back().owner.assign(kMaxComputerName, 'X');
  }
  return wire::EncodeDeviceList(list).size() <= wire::kMaxPayload;
}

}  // namespace tessaro::hubd
