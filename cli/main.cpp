// SPDX-License-Identifier: GPL-2.0-or-later
#include <iostream>

#include <string_view>

#include "base/CommandLineInfo.h"
#include "base/ComputerName.h"
#include "cli/CliRunner.h"
#include "devices/RefreshLock.h"
#include "host/HostChecks.h"
#include "host/WindowsVersion.h"
#include "platform/linux/BusIpcTransport.h"
#include "platform/linux/CupsSpooler.h"
#include "platform/linux/FileNamedMutex.h"
#include "platform/linux/LinuxHostNetwork.h"
#include "platform/linux/SqliteRegistry.h"
#include "platform/linux/SystemClock.h"
#include "platform/linux/TrunkDiagnosis.h"

int main(int argc, char** argv) {
  // --help is the command table's own; --version is answered here.
  if (argc >= 2 && std::string_view(argv[1]) == "--version" &&
      tessaro::AnswerHelpOrVersion(argc, argv, "tessaro-cli", ""))
    return 0;
  const std::string runtimeDir = tessaro::BusRuntimeDirFromEnvironment();
  tessaro::BusIpcTransport bus(runtimeDir);
  tessaro::SystemClock clock;
  // The client's own services, for the client operations; the hive opens on first use.
  tessaro::SqliteRegistry registry;
  tessaro::FileNamedMutex refreshLock(tessaro::kRefreshLockMutexName);
  tessaro::LinuxHostNetwork network;
  tessaro::HostChecks host(network);
  tessaro::CupsSpooler spooler;
  tessaro::cli::ClientEnvironment env;
  env.registry = &registry;
  env.spooler = &spooler;
  // Without its lock file every wait for the lock would run its full six seconds.
  if (refreshLock.Valid()) env.refreshLock = &refreshLock;
  env.computerName = tessaro::ComputerName();
  tessaro::GetWindowsVersionFlags(env.windowsVersionFlags);
  env.defaultGateways = [&host] { return host.FindDefaultGateways(); };
  env.diagnoseTrunk = [&runtimeDir] { return tessaro::DiagnoseTrunk(runtimeDir); };
  env.userName = tessaro::CurrentUserName();
  const std::vector<std::string> args(argv + 1, argv + argc);
  return tessaro::cli::RunCli(args, bus, clock, std::cout, std::cerr, env);
}
