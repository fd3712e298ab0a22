// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/DeviceDescription.h"

#include <string>

#include "protocol/UsbLayout.h"

namespace tessaro::hubd {

std::string NetSaneName(std::string_view server, std::string_view saneDevice) {
  return "net:" + std::string(server) + ":" + std::string(saneDevice);
}

wire::DeviceInfo DescribeDevice(const DeviceConfig& d, std::string_view saneServer) {
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
  const std::string saneDevice = saneServer.empty() || d.saneDevice.empty()
                                     ? d.saneDevice
                                     : NetSaneName(saneServer, d.saneDevice);
  const std::pair<const char*, const std::string*> keys[] = {{"class", &usbClass},
                                                             {"interfaces", &interfaces},
                                                             {"driver-class", &d.driverClass},
                                                             {"dot4", &d.dot4},
                                                             {"sane-device", &saneDevice}};
  for (const auto& [key, value] : keys)
    if (!value->empty()) info.descriptors.emplace_back(key, *value);
  return info;
}

bool DeviceListFitsOneFrame(const std::vector<DeviceConfig>& devices) {
  if (devices.size() > wire::kMaxDevices) return false;
  std::vector<wire::DeviceInfo> list;
  for (const DeviceConfig& d : devices) {
    list.push_back(DescribeDevice(d, "255.255.255.255"));
    list.back().owner.assign(kMaxComputerName, 'X');
  }
  return wire::EncodeDeviceList(list).size() <= wire::kMaxPayload;
}

}  // namespace tessaro::hubd
