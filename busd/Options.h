// SPDX-License-Identifier: GPL-2.0-or-later
// busd's command line and environment.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/Result.h"
#include "busd/BusServer.h"
#include "busd/ServerRegistry.h"

namespace tessaro::busd {

struct Options {
  std::string runtimeDir;
  std::string computerName;
  std::vector<ServerAddress> servers;
  std::string group = "tessaro";
  bool discovery = true;
  uint16_t discoveryPort = wire::kDiscoveryPort;
  std::chrono::seconds dropAfter{30};
  // The machine hive the device database goes into; empty: TESSARO_MACHINE_HIVE, else the
  // registry's default file.
  std::string machineHive;
  BusLimits limits;
  // Make this PC's key when it has none, print its public key and exit (run at install).
  bool makeKey = false;
  bool install = false;  // make the key and record the installed version, then exit
  bool help = false;     // --help or -h: print the usage and exit
};

using Environment = std::function<const char*(const char* name)>;

// `args` without the program name. `computerName` supplies the default name. Fails with the
// line for the usage message.
Result<Options> ParseOptions(const std::vector<std::string>& args, const Environment& environment,
                             const std::function<std::string()>& computerName);
// "IP" or "IP:PORT"; nullopt when malformed.
std::optional<ServerAddress> ParseServerAddress(const std::string& text);
const char* UsageText();
// The machine hive in use: --machine-hive, else TESSARO_MACHINE_HIVE, else the default file.
std::string MachineHivePath(const Options& options);

}  // namespace tessaro::busd
