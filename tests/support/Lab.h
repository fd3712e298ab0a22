// SPDX-License-Identifier: GPL-2.0-or-later
// A small laboratory for integration tests: device servers (hubd) on 127.0.0.x and simulated
// PCs (one busd each, with its own runtime folder and computer name), all real processes inside
// the test's own network namespace, driven through tessaro-cli.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/Command.h"
#include "tests/support/Process.h"

namespace tessaro::testing {

using JsonLine = std::map<std::string, std::string>;

struct HubSpec {
  std::string ip;
  std::string name;
  std::string mac;
  std::string devices;  // the [device N] sections of its config
  std::vector<std::string> extraArgs;
};

class Lab {
 public:
  struct Pc {
    std::string name;
    std::string runtimeDir;
    std::string machineHive;  // where its busd records the devices linked to it
    std::string userHive;     // this PC's user hive and named-mutex folder, for client operations
    std::string lockDir;
    std::unique_ptr<Process> busd;
    std::vector<std::string> busdArgs;
    std::map<std::string, std::string> Env() const;
  };

  Lab();
  ~Lab();

  Process& StartHub(const HubSpec& spec);
  void StopHub(const std::string& ip);
  // Rewrites a hub's device sections and tells it to reload.
  void EditHubDevices(const std::string& ip, const std::string& devices);
  // With no servers given, busd finds them by broadcast.
  Pc& StartPc(const std::string& name, const std::vector<std::string>& servers,
              const std::vector<std::string>& extraArgs = {});

  // Kills the PC's busd, as a crash would, and starts it again with the same arguments.
  void StopBusd(Pc& pc);
  void StartBusd(Pc& pc);

  // tessaro-cli --json ARGS as `pc`.
  CommandResult Cli(const Pc& pc, const std::vector<std::string>& args) const;
  std::vector<JsonLine> CliJson(const Pc& pc, const std::vector<std::string>& args) const;
  // A running `tessaro-cli --json watch` as `pc`; its records so far with Records().
  Process& StartWatch(const Pc& pc);
  static std::vector<JsonLine> Records(const Process& watch);

  // Polls `servers` until one entry for `ip` has `state` (or, for "", until it is gone).
  bool WaitForServerState(const Pc& pc, const std::string& ip, const std::string& state,
                          std::chrono::milliseconds timeout = std::chrono::seconds(15)) const;
  // Attaches every IP and waits until each has a Spur.
  bool AttachAll(const Pc& pc, const std::vector<std::string>& ips) const;
  std::vector<JsonLine> Devices(const Pc& pc, const std::string& ip) const;

  static std::string Binary(const std::string& relative);
  const TempDir& dir() const { return dir_; }

 private:
  std::string HubConfig(const HubSpec& spec) const;
  TempDir dir_;
  std::map<std::string, HubSpec> hubSpecs_;
  std::map<std::string, std::unique_ptr<Process>> hubs_;
  std::vector<std::unique_ptr<Pc>> pcs_;
  std::vector<std::unique_ptr<Process>> watches_;
};

// Device sections used by several tests, read once from tests/fixtures/hubd/.
const std::string& PrinterAndStorage();  // printer-and-storage.conf
const std::string& MfpAndScanner();      // mfp-and-scanner.conf

}  // namespace tessaro::testing
