// SPDX-License-Identifier: GPL-2.0-or-later
#include "busd/ServerRegistry.h"

#include <algorithm>

#include "busd/Log.h"
#include "busd/ReplyBuilder.h"

namespace tessaro::busd {

struct ServerRegistry::Record : HubListener {
  Record(ServerRegistry& owner, uint32_t address) : registry(owner), ip(address) {}

  void OnServerInfo(const wire::ServerInfo& info, bool compatible) override;
  void OnDevices(std::vector<wire::DeviceInfo> list, uint32_t replyTo) override;
  void OnUseRequested(const wire::UseRequested& use) override;
  void TakeInfo(const wire::ServerInfo& info);
  void FetchForAttach();

  ServerRegistry& registry;
  uint32_t ip;
  uint16_t port = wire::kDefaultTcpPort;
  bool configured = false;
  bool listed = false;  // shown in the server list
  ServerEntry entry;
  std::unique_ptr<HubLink> link;
  Clock::time_point nextConnect{};
  Clock::time_point dropAt{};
  bool quietFailures = false;  // the failure was logged; repeats are not
  std::optional<std::vector<wire::DeviceInfo>> devices;
  std::vector<uint8_t> publishedDevices = wire::EncodeDeviceList({});
  bool forceDeviceEvent = false;
  bool attached = false;
  bool attachPending = false;  // a fetch for AttachServer is still to come
  uint32_t attachFetchId = 0;
  bool spurReady = false;
  Clock::time_point spurDeadline{};
};

void ServerRegistry::Record::TakeInfo(const wire::ServerInfo& info) {
  entry.ip = ip;
  entry.mac = info.mac;
  entry.storageMode = info.storageMode;
  entry.name = info.name;
}

void ServerRegistry::Record::OnServerInfo(const wire::ServerInfo& info, bool compatible) {
  TakeInfo(info);
  listed = true;
  quietFailures = false;
  entry.state = compatible ? ServerState::Answering : ServerState::Incompatible;
  if (!compatible) {
    registry.log_.Info("server " + IpText(ip) + " speaks protocol " + std::to_string(info.major) +
                       ", not " + std::to_string(wire::kVersionMajor));
    return;
  }
  registry.log_.Info("server " + IpText(ip) + " (" + LogText(info.name) + ") answers");
  const uint32_t id = link->session().RequestDevices();
  if (attachPending) attachFetchId = id;
}

void ServerRegistry::Record::OnDevices(std::vector<wire::DeviceInfo> list, uint32_t replyTo) {
  devices = std::move(list);
  // Now, before the Result that may follow: a program whose link has been answered finds the
  // device recorded.
  registry.events_.DevicesReported(ip, *devices);
  if (!attachPending || replyTo == 0 || replyTo != attachFetchId) return;
  attachPending = false;
  attachFetchId = 0;
  forceDeviceEvent = true;
  if (!spurReady) {
    spurReady = true;
    registry.events_.SpurReady(ip);
  }
}

void ServerRegistry::Record::OnUseRequested(const wire::UseRequested& use) {
  registry.events_.PublishEvent(BuildUseRequestedRecord(ip, use));
}

void ServerRegistry::Record::FetchForAttach() {
  attachPending = true;
  attachFetchId = 0;
  if (link && link->alive() && link->session().ready())
    attachFetchId = link->session().RequestDevices();
}

ServerRegistry::ServerRegistry(RegistryEvents& events, std::string computerName,
                               const wire::PcKey& key, std::chrono::seconds dropAfter,
                               const Logger& log)
    : events_(events), computerName_(std::move(computerName)), key_(key), dropAfter_(dropAfter),
      log_(log) {}

ServerRegistry::~ServerRegistry() {
  // Links go first, each out of its record: the commands they fail may call back into the
  // registry (a failed job is dropped at its server), which must then be whole and find no link.
  for (const auto& r : records_) {
    auto link = std::move(r->link);
    link.reset();
  }
}

ServerRegistry::Record* ServerRegistry::Find(uint32_t ip) const {
  for (const auto& r : records_)
    if (r->ip == ip) return r.get();
  return nullptr;
}

ServerRegistry::Record& ServerRegistry::Upsert(uint32_t ip) {
  if (Record* r = Find(ip)) return *r;
  records_.push_back(std::make_unique<Record>(*this, ip));
  records_.back()->entry.ip = ip;
  return *records_.back();
}

void ServerRegistry::AddConfigured(const ServerAddress& address) {
  Record& r = Upsert(address.ip);
  r.configured = true;
  r.port = address.port;
}

void ServerRegistry::OnDiscovered(uint32_t ip, const wire::ServerInfo& info,
                                  Clock::time_point now) {
  if (Find(ip) == nullptr && records_.size() >= kMaxServers) {
    if (!fullLogged_)
      log_.Info("server list full: server " + IpText(ip) + " and others are ignored");
    fullLogged_ = true;
    return;
  }
  Record& r = Upsert(ip);
  r.TakeInfo(info);
  if (!r.configured) r.port = info.tcpPort;
  if (r.link && r.link->alive()) return;  // its connection decides its state
  const bool compatible = info.major == wire::kVersionMajor;
  if (!r.listed) log_.Info("found server " + IpText(ip) + " (" + LogText(info.name) + ")");
  r.listed = true;
  r.entry.state = compatible ? ServerState::Answering : ServerState::Incompatible;
  r.nextConnect = now;
}

void ServerRegistry::AddTo(PollSet& poll) {
  for (const auto& r : records_) {
    if (!r->link) continue;
    const uint32_t ip = r->ip;
    r->link->AddTo(poll, [this, ip] {
      if (Record* rec = Find(ip)) LinkDown(*rec, Clock::now());
    });
  }
}

void ServerRegistry::Connect(Record& r, Clock::time_point now) {
  r.link = std::make_unique<HubLink>(r.ip, r.port, r, computerName_, key_, now);
  if (!r.link->alive()) LinkDown(r, now);
}

void ServerRegistry::LinkDown(Record& r, Clock::time_point now) {
  if (!r.link) return;
  const bool incompatible = r.link->session().incompatible();
  if (!r.quietFailures && !incompatible)
    log_.Info("server " + IpText(r.ip) + ": " + r.link->error());
  r.quietFailures = true;
  auto link = std::move(r.link);  // commands still waiting on it fail now
  link.reset();
  r.devices.reset();
  if (r.attachPending) r.attachFetchId = 0;  // fetched again once it answers
  r.nextConnect = now + kReconnectDelay;
  if (incompatible || !r.listed || r.entry.state == ServerState::NotAnswering) return;
  r.entry.state = ServerState::NotAnswering;
  r.dropAt = now + dropAfter_;
}

void ServerRegistry::ExpireIfDue(Record& r, Clock::time_point now) {
  if (r.listed && r.entry.state == ServerState::NotAnswering && now >= r.dropAt) {
    log_.Info("server " + IpText(r.ip) + " dropped from the list");
    r.listed = false;
  }
  if (!r.spurReady && r.attachPending && now >= r.spurDeadline) {
    r.spurReady = true;  // the server does not answer: its Spur shows zero devices
    r.forceDeviceEvent = true;
    events_.SpurReady(r.ip);
  }
}

void ServerRegistry::Tick(Clock::time_point now) {
  for (const auto& r : records_) {
    if (r->link && !r->link->Tick(now)) LinkDown(*r, now);
    const bool wanted = r->configured || r->attached || r->listed;
    if (!r->link && wanted && now >= r->nextConnect) Connect(*r, now);
    ExpireIfDue(*r, now);
  }
  std::erase_if(records_, [](const auto& r) {
    return !r->listed && !r->configured && !r->attached && !r->link;
  });
  if (records_.size() < kMaxServers) fullLogged_ = false;
  PublishChanges();
}

void ServerRegistry::PublishChanges() {
  auto list = ServerList();
  if (list != publishedList_) {
    publishedList_ = std::move(list);
    events_.PublishEvent(BuildEventRecord(EventKind::ServerListChanged));
  }
  for (const auto& r : records_) {
    auto visible = wire::EncodeDeviceList(Devices(r->ip));
    if (!r->forceDeviceEvent && visible == r->publishedDevices) continue;
    r->forceDeviceEvent = false;
    r->publishedDevices = std::move(visible);
    events_.PublishEvent(BuildEventRecord(EventKind::DeviceListChanged, r->ip));
  }
}

std::vector<ServerEntry> ServerRegistry::ServerList() const {
  std::vector<ServerEntry> list;
  for (const auto& r : records_)
    if (r->listed) list.push_back(r->entry);
  return list;
}

bool ServerRegistry::AttachServer(uint32_t ip) {
  Record* r = Find(ip);
  if (r == nullptr || !r->listed) return false;
  if (!r->attached) log_.Info("server " + IpText(ip) + " attached");
  r->attached = true;
  if (!r->spurReady && !r->attachPending) r->spurDeadline = Clock::now() + kSpurWait;
  r->FetchForAttach();
  return true;
}

HubSession* ServerRegistry::ReadySession(uint32_t ip) const {
  const Record* r = Find(ip);
  if (r == nullptr || !r->link || !r->link->alive() || !r->link->session().ready()) return nullptr;
  return &r->link->session();
}

std::vector<wire::DeviceInfo> ServerRegistry::Devices(uint32_t ip) const {
  const Record* r = Find(ip);
  if (r == nullptr || !r->devices || !ReadySession(ip)) return {};
  return *r->devices;
}

bool ServerRegistry::Forward(uint32_t ip, wire::MsgType type, const wire::DeviceCommand& command,
                             std::function<void(uint32_t)> done) {
  HubSession* session = ReadySession(ip);
  if (!session) return false;
  if (type != wire::MsgType::Link) {
    session->Command(type, command, std::move(done));
    return true;
  }
  // What this PC links through busd is what the device database may record.
  const uint8_t number = command.number;
  events_.LinkRequested(ip, number);
  session->Command(type, command, [this, ip, number, done = std::move(done)](uint32_t result) {
    events_.LinkAnswered(ip, number, result == 0);
    done(result);
  });
  return true;
}

bool ServerRegistry::SendData(uint32_t ip, wire::MsgType type, uint8_t number,
                              std::span<const uint8_t> data, std::function<void(uint32_t)> done) {
  HubSession* session = ReadySession(ip);
  if (!session) return false;
  session->Data(type, number, data, std::move(done));
  return true;
}

bool ServerRegistry::TakesPiecesAhead(uint32_t ip) const {
  const HubSession* session = ReadySession(ip);
  return session && session->serverMinor() >= wire::kMinorRefusingDroppedJobs;
}

std::vector<LinkedDevice> ServerRegistry::LinkedDevices() const {
  std::vector<LinkedDevice> linked;
  for (const auto& r : records_)
    for (const wire::DeviceInfo& d : Devices(r->ip))
      if (!d.owner.empty() && d.owner == computerName_) linked.push_back({r->ip, d});
  return linked;
}

bool ServerRegistry::Eject(uint32_t ip, uint8_t number,
                           std::function<void(uint32_t, const wire::EjectReply&)> done) {
  HubSession* session = ReadySession(ip);
  if (!session) return false;
  session->Eject(number, std::move(done));
  return true;
}

}  // namespace tessaro::busd
