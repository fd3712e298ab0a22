// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/CliWhy.h"

#include <algorithm>

#include "base/AsciiText.h"
#include "cli/CliArgs.h"

namespace tessaro::cli {

std::string DeviceFailureReason(const std::string& command, const std::string& ip,
                                const std::string& number,
                                const std::optional<std::vector<DeviceEntry>>& devices,
                                const std::string& computerName) {
  // A failed list request reads as an empty list: no devices tell nothing.
  if (!devices || devices->empty()) return "";
  const auto wanted = ParseInteger(number, -128, 255);
  // Device numbers travel as one byte: 255 and -1 name the same device.
  const auto same = [&](const DeviceEntry& d) {
    return wanted && static_cast<int8_t>(d.deviceNumber) == static_cast<int8_t>(*wanted);
  };
  const auto it = std::find_if(devices->begin(), devices->end(), same);
  if (it == devices->end()) return "the server at " + ip + " has no device " + number;
  const bool mine = !it->owner.empty() && EqualsNoCase(it->owner, computerName);
  if (!it->owner.empty() && !mine) return "device " + number + " is held by " + it->owner;
  if (it->owner.empty() && command != "link" && command != "request")
    return "device " + number + " is not linked to this PC";
  return "";
}

}  // namespace tessaro::cli
