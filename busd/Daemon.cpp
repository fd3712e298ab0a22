// SPDX-License-Identifier: GPL-2.0-or-later
#include "busd/Daemon.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "base/SystemdNotify.h"
#include "busd/DeviceKeys.h"
#include "busd/Log.h"
#include "busd/PcKeyFile.h"
#include "busd/ReplyBuilder.h"
#include "platform/linux/SqliteRegistry.h"

namespace tessaro::busd {

namespace {

constexpr int kTurnMs = 200;  // timers (pings, reconnects, drops) need no finer grain

UniqueFd BlockStopSignals() {
  sigset_t set;
  ::sigemptyset(&set);
  ::sigaddset(&set, SIGTERM);
  ::sigaddset(&set, SIGINT);
  ::sigprocmask(SIG_BLOCK, &set, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  return UniqueFd(::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
}

}  // namespace

Daemon::Daemon(Options options, const Logger& log) : options_(std::move(options)), log_(log) {}

Daemon::~Daemon() {
  // Links first: their waiting commands fail into bus connections that still exist.
  registry_.reset();
  arrival_.reset();
  writer_.reset();
  machineHive_.reset();
  discovery_.reset();
  bus_.reset();
  folder_.reset();
}

bool Daemon::Start() {
  auto folder = RuntimeFolder::Prepare(options_.runtimeDir, options_.group, log_);
  if (!folder) {
    log_.Error(folder.error());
    return false;
  }
  folder_ = std::move(*folder);
  HivePaths hives;  // busd writes the machine hive only
  hives.machine = MachineHivePath(options_);
  KeyFileResult key = LoadOrMakeKey(KeyPathFor(hives.machine));
  if (!key.key) {
    log_.Error("no key for this PC: " + key.error);
    return false;
  }
  if (!key.notice.empty()) log_.Info(key.notice);
  if (key.made) log_.Info("made this PC's key in " + KeyPathFor(hives.machine));
  key_ = std::move(key.key);
  machineHive_ = std::make_unique<SqliteRegistry>(hives);
  writer_ = std::make_unique<DeviceWriter>(*machineHive_, log_);
  arrival_ = std::make_unique<DeviceArrival>(
      options_.computerName,
      [this](uint32_t ip, const wire::DeviceInfo& device) { RecordDevice(ip, device); }, log_);
  registry_ = std::make_unique<ServerRegistry>(*this, options_.computerName, *key_,
                                               options_.dropAfter, log_);
  bus_ = std::make_unique<BusServer>(*folder_, *registry_, log_, options_.limits);
  if (const auto listening = bus_->ListenTrunk(); !listening) {
    log_.Error(listening.error());
    return false;
  }
  for (const auto& s : options_.servers) registry_->AddConfigured(s);
  if (options_.discovery) {
    discovery_ = std::make_unique<Discovery>(
        options_.discoveryPort,
        [this](uint32_t ip, const wire::ServerInfo& info) {
          registry_->OnDiscovered(ip, info, Clock::now());
        },
        log_);
    if (!discovery_->ok()) log_.Warning("no discovery socket; only configured servers are used");
  }
  interfaces_ = ListIpv4Interfaces();
  addresses_ = Ipv4Addresses(interfaces_);
  lastAddressPoll_ = Clock::now();
  log_.Info("computer name " + LogText(options_.computerName) + ", runtime folder " +
            options_.runtimeDir + ", device database in " + hives.machine + ", public key " +
            HexText(key_->publicKey()));
  log_.Info("ready");
  // A service manager that started busd learns it is ready only now, with the sockets in place.
  if (const auto told = NotifyServiceManager(NotifySocketFromEnvironment(), "READY=1"); !told)
    log_.Warning(told.error());
  return true;
}

int Daemon::Run() {
  UniqueFd signals = BlockStopSignals();
  if (!signals.valid() || !Start()) return 1;
  while (!stop_) Turn(signals.get());
  log_.Info("stopping");
  return 0;
}

void Daemon::Turn(int signalFd) {
  PollSet poll;
  poll.Add(signalFd, POLLIN, [this](short) { stop_ = true; });
  bus_->AddTo(poll);
  registry_->AddTo(poll);
  if (discovery_) discovery_->AddTo(poll);
  poll.Wait(kTurnMs);
  if (stop_) return;
  const auto now = Clock::now();
  WatchAddresses(now);
  if (discovery_) discovery_->Tick(now, interfaces_);
  registry_->Tick(now);
}

void Daemon::WatchAddresses(Clock::time_point now) {
  if (now - lastAddressPoll_ < kAddressPollInterval) return;
  lastAddressPoll_ = now;
  interfaces_ = ListIpv4Interfaces();
  auto addresses = Ipv4Addresses(interfaces_);
  if (addresses == addresses_) return;
  addresses_ = std::move(addresses);
  log_.Info("this PC's IPv4 addresses changed");
  PublishEvent(BuildEventRecord(EventKind::AddressesChanged));
}

void Daemon::PublishEvent(const std::vector<uint8_t>& record) { bus_->Publish(record); }

void Daemon::DevicesReported(uint32_t ip, const std::vector<wire::DeviceInfo>& devices) {
  arrival_->Update(ip, devices);
}

void Daemon::LinkRequested(uint32_t ip, uint8_t number) { arrival_->LinkRequested(ip, number); }

void Daemon::LinkAnswered(uint32_t ip, uint8_t number, bool succeeded) {
  arrival_->LinkAnswered(ip, number, succeeded);
}

void Daemon::RecordDevice(uint32_t ip, const wire::DeviceInfo& device) {
  DeviceRecord record = DescribeDeviceRecord(ip, device);
  const std::string id = record.instanceId;
  writer_->Add(std::move(record),
               "device " + std::to_string(device.number) + " of server " + IpText(ip));
  // A free hive takes the record in a moment, before the link is answered, so the program that
  // asked for it finds it; a held one must not stop the loop.
  writer_->WaitWritten(id, kRecordWait);
}

void Daemon::SpurReady(uint32_t ip) {
  if (const auto added = bus_->AddSpur(ip); !added) log_.Error(added.error());
}

}  // namespace tessaro::busd
