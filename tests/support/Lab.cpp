// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/support/Lab.h"

#include <signal.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "tests/TestPaths.h"

namespace tessaro::testing {

namespace {

std::string ReadHubFixture(const std::string& name) {
  const std::string path = std::string(kFixturesDir) + "/hubd/" + name;
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

const std::string& PrinterAndStorage() {
  static const std::string devices = ReadHubFixture("printer-and-storage.conf");
  return devices;
}

const std::string& MfpAndScanner() {
  static const std::string devices = ReadHubFixture("mfp-and-scanner.conf");
  return devices;
}

std::map<std::string, std::string> Lab::Pc::Env() const {
  return {{"TESSARO_RUNTIME_DIR", runtimeDir},
          {"TESSARO_COMPUTERNAME", name},
          {"TESSARO_MACHINE_HIVE", machineHive},
          {"TESSARO_USER_HIVE", userHive},
          {"TESSARO_LOCK_DIR", lockDir}};
}

Lab::Lab() : dir_("/tmp/tessaro-lab.") {}

Lab::~Lab() {
  watches_.clear();
  pcs_.clear();
  hubs_.clear();
}

std::string Lab::Binary(const std::string& relative) {
  return std::string(kBinaryDir) + "/" + relative;
}

std::string Lab::HubConfig(const HubSpec& spec) const {
  std::ostringstream c;
  c << "[server]\nname = " << spec.name << "\naddress = " << spec.ip
    << "\nport = 2005\nmac = " << spec.mac << "\nstorage-mode = 1\n\n"
    << spec.devices;
  return c.str();
}

Process& Lab::StartHub(const HubSpec& spec) {
  hubSpecs_[spec.ip] = spec;
  const std::string config = dir_ / ("hub-" + spec.ip + ".conf");
  WriteTextFile(config, HubConfig(spec));
  std::vector<std::string> args = {"--config", config};
  args.insert(args.end(), spec.extraArgs.begin(), spec.extraArgs.end());
  auto hub = std::make_unique<Process>(Binary("hubd/tessaro-hubd"), args);
  if (!hub->Start() || !hub->WaitForOutput("hubd: ready"))
    throw std::runtime_error("hubd on " + spec.ip + " did not start: " + hub->Output());
  auto& ref = *hub;
  hubs_[spec.ip] = std::move(hub);
  return ref;
}

void Lab::StopHub(const std::string& ip) { hubs_.erase(ip); }

void Lab::EditHubDevices(const std::string& ip, const std::string& devices) {
  HubSpec& spec = hubSpecs_.at(ip);
  spec.devices = devices;
  WriteTextFile(dir_ / ("hub-" + ip + ".conf"), HubConfig(spec));
  hubs_.at(ip)->Signal(SIGHUP);
}

Lab::Pc& Lab::StartPc(const std::string& name, const std::vector<std::string>& servers,
                      const std::vector<std::string>& extraArgs) {
  auto pc = std::make_unique<Pc>();
  pc->name = name;
  pc->runtimeDir = dir_ / ("pc-" + name);
  pc->userHive = dir_ / ("user-" + name + ".hive");
  pc->lockDir = dir_ / ("lock-" + name);
  pc->machineHive = dir_ / ("machine-" + name + ".hive");
  std::vector<std::string> args = {
      "--runtime-dir", pc->runtimeDir, "--computer-name", name,
      "--group",       "root",         "--machine-hive",  pc->machineHive};
  // Configured servers only, unless the test is about finding servers by broadcast.
  if (!servers.empty()) args.push_back("--no-discovery");
  for (const auto& s : servers) {
    args.push_back("--server");
    args.push_back(s);
  }
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  pc->busdArgs = std::move(args);
  StartBusd(*pc);
  pcs_.push_back(std::move(pc));
  return *pcs_.back();
}

void Lab::StopBusd(Pc& pc) {
  if (pc.busd) pc.busd->Signal(SIGKILL);
  pc.busd.reset();
}

void Lab::StartBusd(Pc& pc) {
  pc.busd = std::make_unique<Process>(Binary("busd/tessaro-busd"), pc.busdArgs);
  if (!pc.busd->Start() || !pc.busd->WaitForOutput("busd: ready"))
    throw std::runtime_error("busd " + pc.name + " did not start: " + pc.busd->Output());
}

CommandResult Lab::Cli(const Pc& pc, const std::vector<std::string>& args) const {
  std::vector<std::string> all = {"--json"};
  all.insert(all.end(), args.begin(), args.end());
  return RunCommand(Binary("cli/tessaro-cli"), all, pc.Env());
}

std::vector<JsonLine> Lab::CliJson(const Pc& pc, const std::vector<std::string>& args) const {
  std::vector<JsonLine> lines;
  for (const auto& line : Cli(pc, args).Lines()) lines.push_back(ParseFlatJson(line));
  return lines;
}

Process& Lab::StartWatch(const Pc& pc) {
  auto watch = std::make_unique<Process>(Binary("cli/tessaro-cli"),
                                         std::vector<std::string>{"--json", "watch"}, pc.Env());
  // busd keeps events for a reader from its first read on; the watch says when that read is
  // done (kWatchReadingLine in cli/CliRunner.h), and only then may the test cause events.
  if (!watch->Start() || !watch->WaitForOutput("tessaro-cli: reading events"))
    throw std::runtime_error("watch did not start reading: " + watch->Output());
  watches_.push_back(std::move(watch));
  return *watches_.back();
}

std::vector<JsonLine> Lab::Records(const Process& watch) {
  std::vector<JsonLine> records;
  std::istringstream in(watch.Output());
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line.front() == '{') records.push_back(ParseFlatJson(line));
  return records;
}

bool Lab::WaitForServerState(const Pc& pc, const std::string& ip, const std::string& state,
                             std::chrono::milliseconds timeout) const {
  return Eventually(
      [&] {
        bool found = false;
        for (const auto& s : CliJson(pc, {"servers"}))
          if (s.at("ip") == ip) found = state.empty() || s.at("state") == state;
        return state.empty() ? !found : found;
      },
      timeout);
}

bool Lab::AttachAll(const Pc& pc, const std::vector<std::string>& ips) const {
  for (const auto& ip : ips)
    if (Cli(pc, {"attach", ip}).exitCode != 0) return false;
  return Eventually([&] {
    const auto spurs = CliJson(pc, {"spurs"});
    for (const auto& ip : ips) {
      bool has = false;
      for (const auto& s : spurs) has = has || s.at("address") == ip;
      if (!has) return false;
    }
    return true;
  });
}

std::vector<JsonLine> Lab::Devices(const Pc& pc, const std::string& ip) const {
  return CliJson(pc, {"devices", ip});
}

}  // namespace tessaro::testing
