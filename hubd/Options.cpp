// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/Options.h"

#include "hubd/AdminPassword.h"
#include "protocol/HubWire.h"

namespace tessaro::hubd {

namespace {

bool ParsePort(const std::string& text, uint16_t& port) {
  uint64_t n = 0;
  if (!ParseUnsigned(text, 65535, n) || n == 0) return false;
  port = static_cast<uint16_t>(n);
  return true;
}

// Applies one option that takes a value; an error message, or empty.
std::string ApplyOption(Options& o, const std::string& name, const std::string& value) {
  uint16_t n = 0;
  if (name == "--config")
    o.configPath = value;
  else if (name == "--pins")
    o.pinsPath = value;
  else if (name == "--address") {
    if (!IsUsableServerAddress(value)) return "bad --address " + value;
    o.address = value;
  } else if (name == "--port") {
    if (!ParsePort(value, n)) return "bad --port " + value;
    o.port = n;
  } else if (name == "--discovery-port") {
    if (!ParsePort(value, n)) return "bad --discovery-port " + value;
    o.discoveryPort = n;
  } else if (name == "--protocol-version") {
    uint64_t major = 0;
    if (!ParseUnsigned(value, 65535, major)) return "bad --protocol-version " + value;
    o.versionMajor = static_cast<uint16_t>(major);
  } else if (name == "--hello-timeout" || name == "--idle-timeout") {
    uint64_t seconds = 0;
    if (!ParseUnsigned(value, 24 * 60 * 60, seconds) || seconds == 0)
      return "bad " + name + " " + value;
    (name == "--hello-timeout" ? o.limits.helloTimeout : o.limits.idleTimeout) =
        std::chrono::seconds(seconds);
  } else if (name == "--max-per-address") {
    uint64_t count = 0;
    if (!ParseUnsigned(value, 65535, count) || count == 0) return "bad " + name + " " + value;
    o.limits.maxPerAddress = count;
  } else {
    return "unknown option " + name;
  }
  return {};
}

}  // namespace

OptionsResult ParseOptions(const std::vector<std::string>& args) {
  Options o;
  o.discoveryPort = wire::kDiscoveryPort;
  o.versionMajor = wire::kVersionMajor;
  for (size_t i = 0; i < args.size();) {
    if (args[i] == "--set-admin-password") {  // the one option without a value
      o.setAdminPassword = true;
      ++i;
      continue;
    }
    if (i + 1 >= args.size()) return {std::nullopt, args[i] + " needs a value"};
    const std::string error = ApplyOption(o, args[i], args[i + 1]);
    if (!error.empty()) return {std::nullopt, error};
    i += 2;
  }
  if (o.configPath.empty()) return {std::nullopt, "--config is required"};
  return {o, {}};
}

std::string ApplyOverrides(const Options& options, HubConfig& config) {
  if (options.address) config.server.address = *options.address;
  if (options.port) config.server.port = *options.port;
  if (config.server.address.empty())
    return options.configPath + ": no server address: give [server] address or --address";
  return {};
}

std::string PinsPath(const Options& options) {
  return options.pinsPath.empty() ? options.configPath + ".pins" : options.pinsPath;
}

std::string AdminPasswordFile(const Options& options) {
  return AdminPasswordPath(PinsPath(options));
}

}  // namespace tessaro::hubd
