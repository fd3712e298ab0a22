// SPDX-License-Identifier: GPL-2.0-or-later
// The device URI of a queue that prints through a device server:
//   tessaro://SERVER-MAC/VID/PID[?serial=SERIAL]
// MAC as six hex pairs joined by '-', VID and PID four hex digits, the serial percent-encoded.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessaro {

struct DeviceUri {
  std::array<uint8_t, 6> mac{};
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  std::optional<std::string> serial;  // compared exactly; no serial matches any device
};

// nullopt with `error` set for anything but the form above (letter case aside).
std::optional<DeviceUri> ParseDeviceUri(std::string_view text, std::string& error);
std::string FormatDeviceUri(const DeviceUri& uri);
// The MAC as the URI writes it: "02-00-00-00-00-02".
std::string FormatMac(const std::array<uint8_t, 6>& mac);
// "02-00-00-00-00-02" from the bus's "02:00:00:00:00:02"; nullopt when it is not a MAC.
std::optional<std::array<uint8_t, 6>> ParseMac(std::string_view text, char separator);

}  // namespace tessaro
