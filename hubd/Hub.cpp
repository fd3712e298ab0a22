// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/Hub.h"

#include <algorithm>

#include "base/Ipv4Text.h"
#include "hubd/Session.h"

namespace tessaro::hubd {

Hub::Hub(const HubConfig& config, const Clock& clock, uint16_t versionMajor, PinStore& pins,
         LogFn log)
    : server_(config.server), versionMajor_(versionMajor),
      address_(ParseIpv4(config.server.address).value_or(0)), tcpPort_(config.server.port),
      pins_(pins), clock_(clock), table_(clock), log_(std::move(log)) {
  // PCs reach a scanner through this server's SANE port only when hubd serves it.
  if (config.server.sane) table_.SetSaneServer(config.server.address);
  table_.Replace(config.devices);
  started_ = clock_.Now();
  for (const DeviceConfig& d : config.devices) {
    if (d.outputFolder.empty()) continue;
    if (const size_t n = PrintSink::RemoveLeftovers(d.outputFolder))
      Log(std::to_string(n) + " unfinished print jobs removed from " + d.outputFolder);
  }
}

wire::ServerInfo Hub::Info() const {
  wire::ServerInfo info;
  info.major = versionMajor_;
  info.minor = wire::kVersionMinor;
  info.tcpPort = tcpPort_;
  info.mac = server_.mac;
  info.storageMode = server_.storageMode;
  info.name = server_.name;
  return info;
}

void Hub::Attach(Session& session) { sessions_.push_back(&session); }

std::vector<std::pair<std::string, std::string>> Hub::AttachedPcs() const {
  std::vector<std::pair<std::string, std::string>> pcs;
  for (const Session* s : sessions_)
    if (s->greeted()) pcs.emplace_back(s->computerName(), s->peer());
  return pcs;
}

bool Hub::IsAttachedFrom(const std::string& name, uint32_t address) const {
  return std::any_of(sessions_.begin(), sessions_.end(), [&](const Session* s) {
    return s->greeted() && s->computerName() == name && s->peerIp() == address;
  });
}

void Hub::Detach(Session& session) {
  sink_.AbortAll(&session);
  sessions_.erase(std::remove(sessions_.begin(), sessions_.end(), &session), sessions_.end());
}

void Hub::RunExpiry() {
  if (table_.Expire()) {
    Log("a lock ended");
    AnnounceChange();
  }
}

void Hub::AnnounceChange() {
  // A job belongs to the PC that owned the device when it began: unlinked or taken, it is void.
  for (const uint8_t n : sink_.DropStale([this](uint8_t number) { return table_.OwnerOf(number); }))
    Log("print job on device " + std::to_string(n) + " dropped: the device changed hands");
  const wire::Frame frame{wire::MsgType::DevicesChanged, 0, 0,
                          wire::EncodeDeviceList(table_.List())};
  for (Session* s : sessions_)
    if (s->greeted()) s->Push(frame);
}

void Hub::NotifyOwner(const std::string& owner, const wire::UseRequested& request) {
  const wire::Frame frame{wire::MsgType::UseRequested, 0, 0, wire::EncodeUseRequested(request)};
  for (Session* s : sessions_)
    if (s->greeted() && s->computerName() == owner) s->Push(frame);
}

void Hub::Reload(const HubConfig& config) {
  // The listening address and ports stay as they are, and so does SANE (with the names PCs are
  // told for the scanners): changing them needs a restart.
  if (config.server.address != server_.address || config.server.port != server_.port ||
      config.server.httpPort != server_.httpPort || config.server.sane != server_.sane ||
      config.server.sanePort != server_.sanePort)
    Log("the new address, ports or sane setting take effect after a restart");
  server_.name = config.server.name;
  server_.mac = config.server.mac;
  server_.storageMode = config.server.storageMode;
  RunExpiry();
  if (table_.Replace(config.devices)) AnnounceChange();
  Log("config reloaded: " + std::to_string(config.devices.size()) + " devices");
  newNamesFrom_.clear();
  if (std::string error; !pins_.Load(error)) {
    Log(error + "; the pins held stay");
  } else if (!pins_.path().empty()) {
    Log("pins reloaded: " + std::to_string(pins_.size()) + " computer names");
  }
}

bool Hub::TakeNewNameFrom(uint32_t address) {
  size_t& count = newNamesFrom_[address];
  if (count >= limits_.newNamesPerAddress) return false;
  ++count;
  return true;
}

void Hub::Log(const std::string& line) const {
  if (log_) log_(line);
}

}  // namespace tessaro::hubd
