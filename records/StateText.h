// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <vector>

#include "records/Records.h"

namespace tessaro {

namespace statetext {
inline constexpr const char* kWaiting = " - Waiting to Connect";
inline constexpr const char* kAvailable = " - Available for Use";
std::string UseBy(const std::string& owner);  // " - Use By (" + owner + ")"
}  // namespace statetext

// A scanner needs setting up until its identity is in the scanner id list; any other device
// until it has an auto-connect printer entry.
bool NeedsSetup(const DeviceData& device, const std::vector<std::string>& scannerIds);

// The row's state text. `computerName` is this PC's name; owners compare exactly.
std::string DeviceStateText(const DeviceData& device, const std::vector<std::string>& scannerIds,
                            const std::string& computerName);

// Recomputes `device.stateText` by the rule above.
inline void UpdateStateText(DeviceData& device, const std::vector<std::string>& scannerIds,
                            const std::string& computerName) {
  device.stateText = DeviceStateText(device, scannerIds, computerName);
}

}  // namespace tessaro
