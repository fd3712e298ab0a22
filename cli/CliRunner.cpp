// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/CliRunner.h"

#include <functional>
#include <map>

#include "cli/CliArgs.h"
#include "cli/CliAutoPrint.h"
#include "cli/CliFormat.h"
#include "cli/CliHelp.h"
#include "cli/CliMonitor.h"
#include "cli/CliScan.h"
#include "cli/CliServer.h"
#include "cli/CliWhy.h"
#include "cli/SavePages.h"
#include "driver/DriverClient.h"
#include "driver/EventRecord.h"

namespace tessaro::cli {

namespace {

// What one command sees while it runs.
struct Session {
  const CliCommand& command;
  BusTransport& bus;
  DriverClient& driver;
  BusHandle trunk;
  std::ostream& out;
  std::ostream& err;
  const ClientEnvironment& env;
  Clock& clock;

  void Line(const std::string& text) const { out << text << '\n' << std::flush; }
  int Failed(const std::string& what) const {
    err << "tessaro-cli: " << what << '\n';
    return exitcode::kFailed;
  }
  const std::string& Arg(size_t i) const { return command.args[i]; }
};

// Closes every handle it was given when the command ends.
class HandleCloser {
 public:
  explicit HandleCloser(BusTransport& bus) : bus_(bus) {}
  ~HandleCloser() {
    for (BusHandle h : handles_) bus_.Close(h);
  }
  void Add(BusHandle h) { handles_.push_back(h); }

 private:
  BusTransport& bus_;
  std::vector<BusHandle> handles_;
};

// Runs `use` on the first Spur whose address is `ip`; exit 4 when none has it.
int WithSpur(const Session& s, const std::string& ip, const std::function<int(BusHandle)>& use) {
  // A listing that fails counts as no Spur having the address.
  const std::vector<SpurInterface> spurs =
      s.driver.OpenSpurs().value_or(std::vector<SpurInterface>{});
  HandleCloser closer(s.bus);
  BusHandle match = kInvalidBusHandle;
  for (const auto& spur : spurs) {
    closer.Add(spur.handle);
    if (match == kInvalidBusHandle && spur.address == ip) match = spur.handle;
  }
  if (match == kInvalidBusHandle) {
    s.err << "tessaro-cli: no bus has the address " << ip << '\n';
    return exitcode::kNoSuchSpur;
  }
  return use(match);
}

int ReportOk(const Session& s, bool ok) {
  if (!ok) return s.Failed(s.command.name + " failed");
  s.Line(FormatOk(true, s.command.json));
  return exitcode::kOk;
}

int TrunkVersion(const Session& s) {
  std::string version;
  if (!s.driver.GetTrunkVersion(s.trunk, version)) return s.Failed("version query failed");
  s.Line(FormatVersion(version, s.command.json));
  return exitcode::kOk;
}

int Servers(const Session& s) {
  std::vector<ServerEntry> servers;
  if (s.driver.GetServerList(s.trunk, servers) < 0) return s.Failed("server list failed");
  for (const auto& server : servers) s.Line(FormatServer(server, s.command.json));
  return exitcode::kOk;
}

int Spurs(const Session& s) {
  const auto spurs = s.driver.OpenSpurs();
  if (!spurs) return s.Failed("the bus interfaces cannot be listed");
  HandleCloser closer(s.bus);
  for (const auto& spur : *spurs) {
    closer.Add(spur.handle);
    s.Line(FormatSpur(spur, s.command.json));
  }
  return exitcode::kOk;
}

int Attach(const Session& s) { return ReportOk(s, s.driver.AttachServer(s.trunk, s.Arg(0))); }

int Devices(const Session& s) {
  return WithSpur(s, s.Arg(0), [&](BusHandle spur) {
    const auto devices = s.driver.GetDeviceList(spur);
    if (!devices) return s.Failed("device list longer than its buffer");
    for (const auto& d : *devices) s.Line(FormatDevice(d, s.command.json));
    return exitcode::kOk;
  });
}

int SpurVersion(const Session& s) {
  return WithSpur(s, s.Arg(0), [&](BusHandle spur) {
    std::string version;
    if (!s.driver.GetSpurVersion(spur, version)) return s.Failed("version query failed");
    s.Line(FormatVersion(version, s.command.json));
    return exitcode::kOk;
  });
}

int DeviceCommand(const Session& s) {
  return WithSpur(s, s.Arg(0), [&](BusHandle spur) {
    const std::string& number = s.Arg(1);
    const std::string& name = s.command.name;
    bool ok = false;
    if (name == "link") ok = s.driver.LinkDevice(spur, number);
    if (name == "unlink") ok = s.driver.UnlinkDevice(spur, number);
    if (name == "request") ok = s.driver.RequestToUseDevice(spur, number, 1, "");
    if (name == "lock" || name == "unlock") {
      const auto kind = static_cast<LockKind>(*ParseInteger(s.Arg(2), 0, 255));
      const auto seconds = static_cast<uint32_t>(*ParseInteger(s.Arg(3), 0, 0xFFFFFFFF));
      ok = name == "lock" ? s.driver.LockDevice(spur, number, kind, seconds)
                          : s.driver.UnlockDevice(spur, number, kind, seconds);
    }
    if (ok) return ReportOk(s, true);
    const std::string why =
        DeviceFailureReason(name, s.Arg(0), number, s.driver.GetDeviceList(spur), s.env.computerName);
    return s.Failed(name + " failed" + (why.empty() ? "" : ": " + why));
  });
}

int Watch(const Session& s) {
  // busd keeps every event for a connection from its first read on. A wake sent first answers
  // that read at once, so the watch can say when nothing more is missed: a script waiting for an
  // event may cause it from then on.
  s.driver.WakeEventReader(s.trunk);
  bool announced = false;
  std::vector<uint8_t> buffer;
  uint64_t shown = 0;
  while (!s.command.watchCount || shown < *s.command.watchCount) {
    buffer.assign(kEventBufferSize, 0);
    const IoResult r = s.bus.ReadEvent(s.trunk, buffer.data(), kEventBufferSize);
    if (!r.ok) return s.Failed("event read failed");
    if (!announced) {
      s.err << kWatchReadingLine << '\n' << std::flush;
      announced = true;
    }
    // A read that returns no bytes was only woken; it is no record.
    const auto record = ParseEventRecord(buffer, static_cast<int32_t>(r.bytesReturned));
    if (!record) continue;
    s.Line(FormatEvent(*record, s.command.json));
    ++shown;
  }
  return exitcode::kOk;
}

int List(const Session& s) {
  return RunList(s.env, s.bus, s.clock, s.trunk, s.command.json, s.out, s.err);
}

int Monitor(const Session& s) {
  return RunMonitor(s.env, s.bus, s.clock, s.trunk, s.command.json, s.out, s.err);
}

int Scan(const Session& s) {
  return WithSpur(s, s.Arg(0), [&](BusHandle spur) {
    return RunScan(s.command, s.env, s.bus, s.clock, s.trunk, spur, s.out, s.err);
  });
}

int Server(const Session& s) {
  return RunServer(s.command, s.env, s.driver, s.trunk, s.out, s.err);
}

int AutoPrint(const Session& s) {
  return RunAutoPrint(s.command, s.env, s.bus, s.clock, s.trunk, s.out, s.err);
}

const std::map<std::string, std::function<int(const Session&)>>& Handlers() {
  static const std::map<std::string, std::function<int(const Session&)>> handlers = {
      {"trunk-version", TrunkVersion},
      {"servers", Servers},
      {"spurs", Spurs},
      {"attach", Attach},
      {"devices", Devices},
      {"spur-version", SpurVersion},
      {"link", DeviceCommand},
      {"unlink", DeviceCommand},
      {"lock", DeviceCommand},
      {"unlock", DeviceCommand},
      {"request", DeviceCommand},
      {"watch", Watch},
      {"list", List},
      {"auto-print", AutoPrint},
      {"server", Server},
      {"monitor", Monitor},
      {"scan", Scan},
  };
  return handlers;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, BusTransport& bus, Clock& clock, std::ostream& out,
           std::ostream& err, const ClientEnvironment& env) {
  const ParsedArgs parsed = ParseCliArgs(args);
  if (parsed.help) {
    out << (parsed.helpCommand.empty() ? UsageText() : *CommandHelp(parsed.helpCommand));
    return exitcode::kOk;
  }
  if (!parsed.command) {
    err << "tessaro-cli: " << parsed.error << '\n' << UsageText();
    return exitcode::kUsage;
  }
  // Saving pages needs no bus, so it runs without the Trunk.
  if (parsed.command->name == "save-pages") return RunSavePages(*parsed.command, out, err);
  // Only adding an entry looks at the devices.
  if (parsed.command->name == "auto-print" && parsed.command->args[0] != "add")
    return RunAutoPrint(*parsed.command, env, bus, clock, kInvalidBusHandle, out, err);
  DriverClient driver(bus, clock);
  const BusHandle trunk = driver.OpenTrunk();
  if (trunk == kInvalidBusHandle) {
    err << kSetupIncompleteMessage;
    // The cause, where it can be told, below the message scripts know.
    const TrunkProblem problem = env.diagnoseTrunk ? env.diagnoseTrunk() : TrunkProblem::Unknown;
    const std::string cause = TrunkProblemText(problem, env.userName);
    if (!cause.empty()) err << '\n' << cause << '\n';
    return exitcode::kSetupIncomplete;
  }
  HandleCloser closer(bus);
  closer.Add(trunk);
  const Session session{*parsed.command, bus, driver, trunk, out, err, env, clock};
  return Handlers().at(parsed.command->name)(session);
}

}  // namespace tessaro::cli
