// SPDX-License-Identifier: GPL-2.0-or-later
// The list PCs see on a server that offers its USB devices: the config's described devices, and
// each real device (hubs left out) under its stable number, with what a config section naming
// it (`match`, `usb-port`) overrides.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "hubd/Config.h"
#include "hubd/DeviceNumbers.h"
#include "hubd/UsbDevice.h"

namespace tessaro::hubd {

using UsbLogFn = std::function<void(const std::string&)>;

// Where the device numbers are kept: beside the pins, `hub.ini.pins` giving `hub.ini.usb-numbers`.
std::string UsbNumbersPath(const std::string& pinsPath);

// What PCs are told of a real device before any config section overrides it.
DeviceConfig DescribeUsbDevice(const UsbDevice& device, uint8_t number);

// The section that names `device`, or nullptr. A `match` with a serial beats one without.
const DeviceConfig* SectionFor(const std::vector<DeviceConfig>& sections, const UsbDevice& device);

// The whole list, sorted by number. Devices that get no number (all 127 in use) or would make the
// list too large for one frame are left out and logged.
std::vector<DeviceConfig> MergeUsbDevices(const std::vector<DeviceConfig>& sections,
                                          const std::vector<UsbDevice>& devices,
                                          DeviceNumbers& numbers, const UsbLogFn& log);

}  // namespace tessaro::hubd
