// SPDX-License-Identifier: GPL-2.0-or-later
// How a device linked to this PC is named in the device database and in the device instance IDs
// programs ask about: "USB\Vid_vvvv&Pid_pppp\<instance>".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/HubWire.h"

namespace tessaro::busd {

struct UsbInstanceId {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  std::string instance;
};

// "USB\Vid_xxxx&Pid_xxxx\<instance>": the part before the instance without regard to letter
// case, the instance as given (not empty, without a backslash). nullopt for any other text.
std::optional<UsbInstanceId> ParseUsbInstanceId(std::string_view text);

// The device's instance name: its serial number as programs see it (cut to 63 bytes) when that
// can name a key (printable ASCII without spaces, commas or backslashes); otherwise a name made
// from where the device is attached, "6&<hash>&0&<device number>", the same on every link.
std::string InstanceName(uint32_t serverIp, const wire::DeviceInfo& device);

// "Vid_04f9&Pid_0042"
std::string UsbDeviceName(uint16_t vendorId, uint16_t productId);

// Whether `id` names this device of the server at `serverIp`.
bool NamesDevice(const UsbInstanceId& id, uint32_t serverIp, const wire::DeviceInfo& device);

// Eight lower-case hex digits of a 32-bit FNV-1a hash: the middle of generated names.
std::string HashText(std::string_view text);

}  // namespace tessaro::busd
