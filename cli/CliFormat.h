// SPDX-License-Identifier: GPL-2.0-or-later
// One output line per result: a JSON object with --json, else a readable line of our own.
#pragma once

#include <string>

#include "driver/DriverClient.h"
#include "driver/EventRecord.h"
#include "driver/ReplyParsers.h"

namespace tessaro::cli {

std::string FormatVersion(const std::string& version, bool json);
std::string FormatOk(bool ok, bool json);
std::string FormatServer(const ServerEntry& server, bool json);
std::string FormatSpur(const SpurInterface& spur, bool json);
std::string FormatDevice(const DeviceEntry& device, bool json);
std::string FormatEvent(const EventRecord& event, bool json);

}  // namespace tessaro::cli
