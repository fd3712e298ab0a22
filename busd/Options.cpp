// SPDX-License-Identifier: GPL-2.0-or-later
#include "busd/Options.h"

#include <arpa/inet.h>

#include <charconv>

#include "base/Ipv4Text.h"
#include "base/NumberText.h"
#include "busd/ReplyBuilder.h"
#include "platform/linux/SqliteRegistry.h"
#include "protocol/BusFrame.h"

namespace tessaro::busd {

namespace {

bool AddServers(const std::string& list, Options& o, std::string& error) {
  size_t start = 0;
  while (start <= list.size()) {
    const size_t comma = std::min(list.find(',', start), list.size());
    const std::string item = list.substr(start, comma - start);
    start = comma + 1;
    if (item.empty()) continue;
    const auto address = ParseServerAddress(item);
    if (!address) {
      error = "bad server address '" + item + "' (expected IP or IP:PORT)";
      return false;
    }
    o.servers.push_back(*address);
  }
  return true;
}

// Applies one option that takes a value; false with `error` set when the value is bad.
bool ApplyValue(const std::string& name, const std::string& value, Options& o, std::string& error) {
  if (name == "--runtime-dir") {
    o.runtimeDir = value;
  } else if (name == "--computer-name") {
    o.computerName = value.substr(0, kMaxBusText);
  } else if (name == "--server") {
    return AddServers(value, o, error);
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
  return error.empty();
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

ParsedOptions ParseOptions(const std::vector<std::string>& args, const Environment& environment,
                           const std::function<std::string()>& computerName) {
  ParsedOptions parsed;
  Options o;
  const char* dir = environment("TESSARO_RUNTIME_DIR");
  o.runtimeDir = (dir && *dir) ? dir : busipc::kDefaultRuntimeDir;
  if (const char* servers = environment("TESSARO_SERVERS"); servers && *servers) {
    if (!AddServers(servers, o, parsed.error)) {
      parsed.error = "TESSARO_SERVERS: " + parsed.error;
      return parsed;
    }
  }
  bool nameGiven = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      parsed.help = true;
      return parsed;
    }
    if (a == "--no-discovery") {
      o.discovery = false;
      continue;
    }
    if (a == "--make-key") {
      o.makeKey = true;
      continue;
    }
    if (a == "--install") {
      o.install = true;
      continue;
    }
    if (i + 1 >= args.size() && a.starts_with("--")) {
      parsed.error = "option '" + a + "' needs a value";
      return parsed;
    }
    if (!ApplyValue(a, i + 1 < args.size() ? args[i + 1] : "", o, parsed.error)) return parsed;
    nameGiven = nameGiven || a == "--computer-name";
    ++i;
  }
  if (!nameGiven) o.computerName = computerName();
  parsed.options = std::move(o);
  return parsed;
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
