// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/CliServer.h"

#include <algorithm>

#include "base/Product.h"
#include "autoconnect/AutoConnectStore.h"
#include "cli/CliFormat.h"
#include "cli/CliRunner.h"

namespace tessaro::cli {

std::string CheckServerArgs(const std::vector<std::string>& args) {
  if (args.size() != 2 || (args[0] != "enable" && args[0] != "disable") || args[1].empty())
    return "usage: server enable IP | server disable IP";
  return "";
}

int RunServer(const CliCommand& command, const ClientEnvironment& env, DriverClient& driver,
              BusHandle trunk, std::ostream& out, std::ostream& err) {
  const bool enable = command.args[0] == "enable";
  const std::string& ip = command.args[1];
  if (env.registry == nullptr) {
    err << "tessaro-cli: server: no user hive\n";
    return exitcode::kFailed;
  }
  std::vector<ServerEntry> servers;
  if (driver.GetServerList(trunk, servers) < 0) {
    err << "tessaro-cli: server: the server list cannot be read from tessaro-busd\n";
    return exitcode::kFailed;
  }
  const auto found = std::find_if(servers.begin(), servers.end(),
                                  [&](const ServerEntry& s) { return s.ip == ip; });
  if (found == servers.end()) {
    err << "tessaro-cli: server: tessaro-busd lists no server at " << ip
        << " (tessaro-cli servers shows those it knows)\n";
    return exitcode::kNoSuchSpur;
  }
  // The entry the tray's Enable and Disable write: keyed by address and MAC, holding the name.
  ServerInfoReg entry;
  entry.ServerName = found->name;
  entry.ServerIP = found->ip;
  entry.ServerMAC = found->mac;
  entry.ServerEnable = enable ? 1 : 0;
  if (!WriteServerEntry(*env.registry, AppRegistryKey, entry)) {
    err << "tessaro-cli: server: the user hive cannot be written\n";
    return exitcode::kFailed;
  }
  out << FormatOk(true, command.json) << '\n' << std::flush;
  return exitcode::kOk;
}

}  // namespace tessaro::cli
