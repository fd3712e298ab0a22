// SPDX-License-Identifier: GPL-2.0-or-later
#include "busd/Options.h"

#include <arpa/inet.h>

#include <charconv>

#include "base/Ipv4Text.h"
#include "base/NumberText.h"
#include "base/OptionReader.h"
#include "busd/ReplyBuilder.h"
#include "platform/linux/SqliteRegistry.h"
#include "protocol/BusFrame.h"

namespace tessaro::busd {

namespace {

Result<> AddServers(const std::string& list, Options& o) {
  size_t start = 0;
  while (start <= list.size()) {
    const size_t comma = std::min(list.find(',', start), list.size());
    const std::string item = list.substr(start, comma - start);
    start = comma + 1;
    if (item.empty()) continue;
    const auto address = ParseServerAddress(item);
    if (!address)
      return tessaro::Failure("bad server address '" + item + "' (expected IP or IP:PORT)");
    o.servers.push_back(*address);
  }
  return {};
}

// Applies one option; fails when the value is bad.
Result<> ApplyOption(const std::string& name, const std::string& value, Options& o) {
  std::string error;
  if (name == "--help" || name == "-h") {
    o.help = true;
  } else if (name == "--no-discovery") {
    o.discovery = false;
  } else if (name == "--make-key") {
    o.makeKey = true;
  } else if (name == "--install") {
    o.install = true;
  } else if (name == "--runtime-dir") {
    o.runtimeDir = value;
  } else if (name == "--computer-name") {
    o.computerName = value.substr(0, kMaxBusText);
  } else if (name == "--server") {
    return AddServers(value, o);
  } else if (name == "--machine-hive") {
    o.machineHive = value;
    if (value.empty()) error = "--machine-hive needs a file name";
  } else if (name == "--group") {
    o.group = value;
  } else if (name == "--discovery-port") {
    const auto port = ParseNumberIn<uint32_t>(value, 1, 65535);
    if (!port) error = "bad --discovery-port '" + value + "' (1..65535)";
    if (port) o.discoveryPort = static_cast<uint16_t>(*port);
  } else if (name == "--drop-after") {
    const auto seconds = ParseNumberIn<uint32_t>(value, 0, 86400);
    if (!seconds) error = "bad --drop-after '" + value + "' (0..86400 seconds)";
    if (seconds) o.dropAfter = std::chrono::seconds(*seconds);
  } else if (name == "--max-clients") {
    const auto count = ParseNumberIn<uint32_t>(value, 1, 65536);
    if (!count) error = "bad --max-clients '" + value + "' (1..65536)";
    if (count) o.limits.maxConnections = *count;
  } else if (name == "--max-client-output") {
    const auto bytes = ParseNumberIn<uint32_t>(value, BusLimits::kMinQueuedOutput, 1u << 30);
    if (!bytes)
      error = "bad --max-client-output '" + value + "' (" +
              std::to_string(BusLimits::kMinQueuedOutput) + "..1073741824 bytes)";
    if (bytes) o.limits.maxQueuedOutput = *bytes;
  } else {
    error = "unknown option '" + name + "'";
  }
  if (!error.empty()) return tessaro::Failure(error);
  return {};
}

}  // namespace

std::optional<ServerAddress> ParseServerAddress(const std::string& text) {
  const size_t colon = text.find(':');
  const std::string host = text.substr(0, colon);
  ServerAddress address;
  const auto ip = ParseIpv4(host);
  if (!ip) return std::nullopt;
  address.ip = *ip;
  if (colon != std::string::npos) {
    const auto port = ParseNumberIn<uint32_t>(text.substr(colon + 1), 1, 65535);
    if (!port) return std::nullopt;
    address.port = static_cast<uint16_t>(*port);
  }
  return address;
}

Result<Options> ParseOptions(const std::vector<std::string>& args, const Environment& environment,
                             const std::function<std::string()>& computerName) {
  Options o;
  const char* dir = environment("TESSARO_RUNTIME_DIR");
  o.runtimeDir = (dir && *dir) ? dir : busipc::kDefaultRuntimeDir;
  if (const char* servers = environment("TESSARO_SERVERS"); servers && *servers) {
    if (auto added = AddServers(servers, o); !added)
      return tessaro::Failure("TESSARO_SERVERS: " + added.error());
  }
  bool nameGiven = false;
  const auto read = ReadOptions(args, {"--help", "-h", "--no-discovery", "--make-key", "--install"},
                                [&](const std::string& name, const std::string& value) {
                                  nameGiven = nameGiven || name == "--computer-name";
                                  return ApplyOption(name, value, o);
                                });
  if (o.help) {  // the usage, whatever else was asked
    Options help;
    help.help = true;
    return help;
  }
  if (!read) return tessaro::Failure(read.error());
  if (!nameGiven) o.computerName = computerName();
  return o;
}

const char* UsageText() {
  return "usage: tessaro-busd [--runtime-dir DIR] [--computer-name NAME] [--server IP[:PORT]]...\n"
         "                    [--group NAME] [--no-discovery] [--discovery-port N]\n"
         "                    [--drop-after SECONDS] [--machine-hive FILE]\n"
         "                    [--max-clients N] [--max-client-output BYTES]\n"
         "       tessaro-busd --make-key [--machine-hive FILE]\n"
         "       tessaro-busd --install [--machine-hive FILE]\n";
}

std::string MachineHivePath(const Options& options) {
  return options.machineHive.empty() ? HivePathsFromEnvironment().machine : options.machineHive;
}

}  // namespace tessaro::busd
