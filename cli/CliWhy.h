// SPDX-License-Identifier: GPL-2.0-or-later
// Why a device command failed, read from the server's device list after the failure.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "driver/ReplyParsers.h"

namespace tessaro::cli {

// The reason `command` (link, unlink, lock, unlock, request) on device `number` of the server at
// `ip` failed, judged from `devices` as listed afterwards (nullopt: the list could not be read),
// for this PC named `computerName`; "" when the list shows no reason (an empty list is one that
// may have failed).
std::string DeviceFailureReason(const std::string& command, const std::string& ip,
                                const std::string& number,
                                const std::optional<std::vector<DeviceEntry>>& devices,
                                const std::string& computerName);

}  // namespace tessaro::cli
