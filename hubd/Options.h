// SPDX-License-Identifier: GPL-2.0-or-later
// tessaro-hubd's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Result.h"
#include "hubd/Config.h"
#include "hubd/Hub.h"

namespace tessaro::hubd {

struct Options {
  std::string configPath;
  std::string pinsPath;                // empty: the config's path with ".pins" added
  std::optional<std::string> address;  // overrides [server] address
  std::optional<uint16_t> port;        // overrides [server] port
  uint16_t discoveryPort = 9303;
  uint16_t versionMajor = 1;
  Limits limits;
  bool setAdminPassword = false;  // read the web page's password from stdin, store it, exit
};

// The options, or the line for the usage message.
Result<Options> ParseOptions(const std::vector<std::string>& args);

// The command line's overrides on a config just read; fails when no usable address remains.
Result<> ApplyOverrides(const Options& options, HubConfig& config);
// Where the pins are kept.
std::string PinsPath(const Options& options);
// Where the web page's administrator password is kept: beside the pins.
std::string AdminPasswordFile(const Options& options);

inline constexpr const char* kUsage =
    "usage: tessaro-hubd --config FILE [--pins FILE] [--address IP] [--port N] "
    "[--discovery-port N] "
    "[--protocol-version MAJOR] [--hello-timeout SECONDS] [--idle-timeout SECONDS] "
    "[--max-per-address N] [--set-admin-password]";

}  // namespace tessaro::hubd
