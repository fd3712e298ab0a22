// SPDX-License-Identifier: GPL-2.0-or-later
// tessaro-cli run in-process over a scripted bus that lists one device server, with the hives in
// a temporary folder: the PC is PC-A on a recent system.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli/CliRunner.h"
#include "host/WindowsVersion.h"
#include "tests/support/RefreshFixture.h"

namespace tessaro::testing {

class ScriptedCli {
 public:
  // `hub` is listed on trunk/0 with its Spur spur/0 reporting `devices`; which servers are the
  // PC's default gateways is the test's choice (`env.defaultGateways`), none until it says.
  ScriptedCli(const Hub& hub, const std::vector<Dev>& devices) {
    bus.SetInterfaces(InterfaceClass::Trunk, std::vector<std::string>{"trunk/0"});
    bus.SetInterfaces(InterfaceClass::Spur, std::vector<std::string>{"spur/0"});
    bus.SetReply("trunk/0", busop::kAttachServer, FakeBusTransport::Success({}));
    bus.SetReply("trunk/0", busop::kGetServerList, FakeBusTransport::Success(ServerList({hub})));
    bus.SetReply("spur/0", busop::kGetSpurAddress,
                 FakeBusTransport::Success(AddressReply(ParseBytes<4>(hub.ip, '.', 10))));
    bus.SetReply("spur/0", busop::kGetDeviceList, FakeBusTransport::Success(DeviceList(devices)));
    env.registry = &registry;
    env.refreshLock = &lock;
    env.computerName = "PC-A";
    env.windowsVersionFlags = kWinVistaOrLater | kWinNT5OrLater;
    env.defaultGateways = [] { return std::vector<std::string>{}; };
  }

  // Runs one command line; its standard output and error land in `out` and `err`.
  int Run(const std::vector<std::string>& args) {
    std::ostringstream o, r;
    const int status = cli::RunCli(args, bus, clock, o, r, env);
    out = o.str();
    err = r.str();
    return status;
  }

  FakeBusTransport bus;
  FakeClock clock;
  TempDir dir;
  SqliteRegistry registry{HivePaths{dir / "user.hive", dir / "machine.hive"}};
  FileNamedMutex lock{kRefreshLockMutexName, dir.path()};
  cli::ClientEnvironment env;
  std::string out, err;
};

}  // namespace tessaro::testing
