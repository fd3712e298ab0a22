// SPDX-License-Identifier: GPL-2.0-or-later
// scan IP N FOLDER [options]: Scan Now without windows. The same checks, link, lock and unlock
// as the device menu's Scan Now, then one WIA session with the command line's choices in place
// of its dialogs; pages are named by that path's rules and never replace a file.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "base/Result.h"
#include "cli/CliArgs.h"
#include "cli/CliList.h"
#include "driver/DriverClient.h"
#include "platform/BusTransport.h"
#include "platform/Clock.h"

namespace tessaro::cli {

struct ScanOptions {
  std::string ip;
  std::string deviceNumber;
  std::string folder;
  std::string name = "Picture";
  std::string format = "jpg";  // jpg, bmp or pdf
  bool feeder = false;
  int32_t resolution = 300;
  bool color = true;
};

// The options of a scan command line (after "scan"), or the usage error.
Result<ScanOptions> ParseScanArgs(const std::vector<std::string>& args);

// The device numbered `number` as the client's rows hold it (DeviceFromEntry over the Spur of
// `server`); nullopt when the Spur lists no such device or cannot be read.
std::optional<DeviceData> DeviceOnSpur(DriverClient& driver, const ServerData& server,
                                       const ClientState& state, const std::string& number);

// Runs on the Spur whose address the command names (the caller finds it).
int RunScan(const CliCommand& command, const ClientEnvironment& env, BusTransport& bus,
            Clock& clock, BusHandle trunk, BusHandle spur, std::ostream& out, std::ostream& err);

}  // namespace tessaro::cli
