// SPDX-License-Identifier: GPL-2.0-or-later
// How a configured device appears in the device list a PC receives.
#pragma once

#include <cstddef>
#include <vector>

#include "hubd/Config.h"
#include "protocol/HubWire.h"

namespace tessaro::hubd {

// The longest computer name hubd accepts in a Hello: owner names in the list never exceed it.
inline constexpr size_t kMaxComputerName = 63;

// The device's fixed part: no owner, no lock. Descriptors the config leaves out are not sent,
// except that a device with neither `class` nor `interfaces` gets its type word's default.
wire::DeviceInfo DescribeDevice(const DeviceConfig& device);

// Whether the list still fits in one frame when every device has a longest-name owner, so a
// DevicesChanged can never be refused by its receiver as oversized.
bool DeviceListFitsOneFrame(const std::vector<DeviceConfig>& devices);

}  // namespace tessaro::hubd
