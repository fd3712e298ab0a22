// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/DeviceDescription.h"

#include <string>

#include "protocol/UsbLayout.h"

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
  // Without either, the type word's defaults: a PC records what it is told.
  const bool described = !d.usbClass.empty() || !d.interfaces.empty();
  const wire::DefaultFunctions defaults = wire::DefaultFunctionsFor(d.type);
  const std::string& usbClass = described ? d.usbClass : defaults.usbClass;
  const std::string& interfaces = described ? d.interfaces : defaults.interfaces;
  const std::pair<const char*, const std::string*> keys[] = {{"class", &usbClass},
                                                             {"interfaces", &interfaces},
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
