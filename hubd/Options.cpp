// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/Options.h"

#include "base/NumberText.h"
#include "base/OptionReader.h"
#include "hubd/AdminPassword.h"
#include "protocol/HubWire.h"

namespace tessaro::hubd {

namespace {

std::optional<uint16_t> ParsePort(const std::string& text) {
  return ParseNumberIn<uint16_t>(text, 1, 65535);
}

// Applies one option; fails with the message for the usage line.
Result<> ApplyOption(Options& o, const std::string& name, const std::string& value) {
  if (name == "--config")
    o.configPath = value;
  else if (name == "--pins")
    o.pinsPath = value;
  else if (name == "--address") {
    if (!IsUsableServerAddress(value)) return Failure("bad --address " + value);
    o.address = value;
  } else if (name == "--port") {
    o.port = ParsePort(value);
    if (!o.port) return Failure("bad --port " + value);
  } else if (name == "--discovery-port") {
    const auto port = ParsePort(value);
    if (!port) return Failure("bad --discovery-port " + value);
    o.discoveryPort = *port;
  } else if (name == "--protocol-version") {
    const auto major = ParseNumber<uint16_t>(value);
    if (!major) return Failure("bad --protocol-version " + value);
    o.versionMajor = *major;
  } else if (name == "--hello-timeout" || name == "--idle-timeout") {
    const auto seconds = ParseNumberIn<uint32_t>(value, 1, 24 * 60 * 60);
    if (!seconds) return Failure("bad " + name + " " + value);
    (name == "--hello-timeout" ? o.limits.helloTimeout : o.limits.idleTimeout) =
        std::chrono::seconds(*seconds);
  } else if (name == "--max-per-address") {
    const auto count = ParseNumberIn<uint32_t>(value, 1, 65535);
    if (!count) return Failure("bad " + name + " " + value);
    o.limits.maxPerAddress = *count;
  } else {
    return Failure("unknown option " + name);
  }
  return {};
}

}  // namespace

Result<Options> ParseOptions(const std::vector<std::string>& args) {
  Options o;
  o.discoveryPort = wire::kDiscoveryPort;
  o.versionMajor = wire::kVersionMajor;
  // --set-admin-password is the one switch: it reads the password from standard input.
  const auto read = ReadOptions(args, {"--set-admin-password"},
                                [&o](const std::string& name, const std::string& value) {
                                  if (name == "--set-admin-password") {
                                    o.setAdminPassword = true;
                                    return Result<>{};
                                  }
                                  return ApplyOption(o, name, value);
                                });
  if (!read) return Failure(read.error());
  if (o.configPath.empty()) return Failure("--config is required");
  return o;
}

Result<> ApplyOverrides(const Options& options, HubConfig& config) {
  if (options.address) config.server.address = *options.address;
  if (options.port) config.server.port = *options.port;
  if (config.server.address.empty())
    return Failure(options.configPath + ": no server address: give [server] address or --address");
  return {};
}

std::string PinsPath(const Options& options) {
  return options.pinsPath.empty() ? options.configPath + ".pins" : options.pinsPath;
}

std::string AdminPasswordFile(const Options& options) {
  return AdminPasswordPath(PinsPath(options));
}

}  // namespace tessaro::hubd
