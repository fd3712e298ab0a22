// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/Options.h"

#include "base/NumberText.h"
#include "protocol/HubWire.h"

namespace tessaro::hubd {

namespace {

std::optional<uint16_t> ParsePort(const std::string& text) {
  return ParseNumberIn<uint16_t>(text, 1, 65535);
}

// Applies one option that takes a value; an error message, or empty.
std::string ApplyOption(Options& o, const std::string& name, const std::string& value) {
  if (name == "--config")
    o.configPath = value;
  else if (name == "--pins")
    o.pinsPath = value;
  else if (name == "--address") {
    if (!IsUsableServerAddress(value)) return "bad --address " + value;
    o.address = value;
  } else if (name == "--port") {
    o.port = ParsePort(value);
    if (!o.port) return "bad --port " + value;
  } else if (name == "--discovery-port") {
    const auto port = ParsePort(value);
    if (!port) return "bad --discovery-port " + value;
    o.discoveryPort = *port;
  } else if (name == "--protocol-version") {
    const auto major = ParseNumber<uint16_t>(value);
    if (!major) return "bad --protocol-version " + value;
    o.versionMajor = *major;
  } else if (name == "--hello-timeout" || name == "--idle-timeout") {
    const auto seconds = ParseNumberIn<uint32_t>(value, 1, 24 * 60 * 60);
    if (!seconds) return "bad " + name + " " + value;
    (name == "--hello-timeout" ? o.limits.helloTimeout : o.limits.idleTimeout) =
        std::chrono::seconds(*seconds);
  } else if (name == "--max-per-address") {
    const auto count = ParseNumberIn<uint32_t>(value, 1, 65535);
    if (!count) return "bad " + name + " " + value;
    o.limits.maxPerAddress = *count;
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
  for (size_t i = 0; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) return {std::nullopt, args[i] + " needs a value"};
    const std::string error = ApplyOption(o, args[i], args[i + 1]);
    if (!error.empty()) return {std::nullopt, error};
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

}  // namespace tessaro::hubd
