// SPDX-License-Identifier: GPL-2.0-or-later
// Every device server busd knows: configured or discovered, its connection, its state in the
// server list, its cached device list and whether a program attached it. Publishes the events
// that follow from changes.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Logger.h"
#include "busd/BusBackend.h"
#include "busd/HubLink.h"
#include "busd/PollSet.h"

namespace tessaro::busd {

class RegistryEvents {
 public:
  virtual ~RegistryEvents() = default;
  virtual void PublishEvent(const std::vector<uint8_t>& record) = 0;
  // The server's Spur interface should exist from now on.
  virtual void SpurReady(uint32_t ip) = 0;
  // A server's device list arrived; called before any frame that follows it is handled.
  virtual void DevicesReported(uint32_t ip, const std::vector<wire::DeviceInfo>& devices) = 0;
  // A program on this PC asked the server to link a device; the answer is reported before the
  // program gets it.
  virtual void LinkRequested(uint32_t ip, uint8_t number) = 0;
  virtual void LinkAnswered(uint32_t ip, uint8_t number, bool succeeded) = 0;
};

struct ServerAddress {
  uint32_t ip = 0;  // network order
  uint16_t port = wire::kDefaultTcpPort;
};

class ServerRegistry : public BusBackend {
 public:
  static constexpr auto kReconnectDelay = std::chrono::seconds(1);
  static constexpr auto kSpurWait = std::chrono::seconds(5);
  // Servers kept at once. Configured and attached servers are always kept; a server only
  // discovered is not taken while the list is full, so that a flood of DiscoverReply datagrams
  // cannot grow it without bound nor push out the servers already known.
  static constexpr size_t kMaxServers = 64;

  // `key` proves this PC's name to every server; it must outlive the registry.
  ServerRegistry(RegistryEvents& events, std::string computerName, const wire::PcKey& key,
                 std::chrono::seconds dropAfter, const Logger& log);
  ~ServerRegistry() override;

  void AddConfigured(const ServerAddress& address);
  void OnDiscovered(uint32_t ip, const wire::ServerInfo& info, Clock::time_point now);
  void AddTo(PollSet& poll);
  // Connects, reconnects, drops and times out as due, then publishes what changed.
  void Tick(Clock::time_point now);

  std::vector<ServerEntry> ServerList() const override;
  bool AttachServer(uint32_t ip) override;
  std::vector<wire::DeviceInfo> Devices(uint32_t ip) const override;
  bool Forward(uint32_t ip, wire::MsgType type, const wire::DeviceCommand& command,
               std::function<void(uint32_t)> done) override;
  bool TakesPiecesAhead(uint32_t ip) const override;
  std::vector<LinkedDevice> LinkedDevices() const override;
  bool SendData(uint32_t ip, wire::MsgType type, uint8_t number, std::span<const uint8_t> data,
                std::function<void(uint32_t)> done) override;
  bool Eject(uint32_t ip, uint8_t number,
             std::function<void(uint32_t, const wire::EjectReply&)> done) override;

 private:
  struct Record;

  Record* Find(uint32_t ip) const;
  // The record's session when it can carry a request now.
  HubSession* ReadySession(uint32_t ip) const;
  Record& Upsert(uint32_t ip);
  void Connect(Record& r, Clock::time_point now);
  void LinkDown(Record& r, Clock::time_point now);
  void ExpireIfDue(Record& r, Clock::time_point now);
  void PublishChanges();

  RegistryEvents& events_;
  std::string computerName_;
  const wire::PcKey& key_;
  std::chrono::seconds dropAfter_;
  const Logger& log_;
  std::vector<std::unique_ptr<Record>> records_;
  std::vector<ServerEntry> publishedList_;
  bool fullLogged_ = false;  // the refusal of servers is logged once while the list stays full
};

}  // namespace tessaro::busd
