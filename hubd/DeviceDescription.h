// SPDX-License-Identifier: GPL-2.0-or-later
// How a configured device appears in the device list a PC receives.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "hubd/Config.h"
#include "protocol/HubWire.h"

namespace tessaro::hubd {

// The longest computer name hubd accepts in a Hello: owner names in the list never exceed it.
inline constexpr size_t kMaxComputerName = 63;

// The device's fixed part: no owner, no lock. Descriptors the config leaves out are not sent,
// except that a device with neither `class` nor `interfaces` gets its type word's default.
// With `saneServer` (the server's address, when hubd serves SANE) a scanner's sane-device is
// sent as the name a PC opens it by: net:SERVER:NAME.
wire::DeviceInfo DescribeDevice(const DeviceConfig& device, std::string_view saneServer = {});

// The name a PC scans `saneDevice` of `server` by, through SANE's net backend.
std::string NetSaneName(std::string_view server, std::string_view saneDevice);

// Whether the list still fits in one frame when every device has a longest-name owner and every
// scanner the longest net: name, so a DevicesChanged can never be refused by its receiver as
// oversized, whether or not hubd serves SANE.
bool DeviceListFitsOneFrame(const std::vector<DeviceConfig>& devices);

}  // namespace tessaro::hubd
