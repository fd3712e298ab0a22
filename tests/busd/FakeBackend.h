// SPDX-License-Identifier: GPL-2.0-or-later
// A server registry stand-in for driving the request dispatch without sockets or servers.
#pragma once

#include <map>

#include "busd/RequestDispatcher.h"

namespace tessaro::busd::fakes {

class FakeBackend : public BusBackend {
 public:
  struct Forwarded {
    uint32_t ip;
    wire::MsgType type;
    wire::DeviceCommand command;
    std::function<void(uint32_t)> done;
  };

  std::vector<ServerEntry> ServerList() const override { return servers; }
  bool AttachServer(uint32_t ip) override {
    for (const auto& s : servers)
      if (s.ip == ip) {
        attached.push_back(ip);
        return true;
      }
    return false;
  }
  std::vector<wire::DeviceInfo> Devices(uint32_t ip) const override {
    const auto it = devices.find(ip);
    return it == devices.end() ? std::vector<wire::DeviceInfo>{} : it->second;
  }
  bool Forward(uint32_t ip, wire::MsgType type, const wire::DeviceCommand& command,
               std::function<void(uint32_t)> done) override {
    if (!reachable) return false;
    forwarded.push_back({ip, type, command, std::move(done)});
    return true;
  }

  struct DataSent {
    uint32_t ip;
    wire::MsgType type;
    uint8_t number;
    std::vector<uint8_t> data;
    std::function<void(uint32_t)> done;
  };
  bool SendData(uint32_t ip, wire::MsgType type, uint8_t number, std::span<const uint8_t> data,
                std::function<void(uint32_t)> done) override {
    if (!reachable) return false;
    dataSent.push_back({ip, type, number, {data.begin(), data.end()}, std::move(done)});
    return true;
  }

  bool TakesPiecesAhead(uint32_t) const override { return piecesAhead; }
  std::vector<LinkedDevice> LinkedDevices() const override {
    std::vector<LinkedDevice> out;
    for (const auto& [ip, list] : devices)
      for (const auto& d : list)
        if (!d.owner.empty() && d.owner == computerName) out.push_back({ip, d});
    return out;
  }
  bool Eject(uint32_t ip, uint8_t number,
             std::function<void(uint32_t, const wire::EjectReply&)> done) override {
    if (!reachable) return false;
    ejects.push_back({ip, number, std::move(done)});
    return true;
  }

  struct EjectAsked {
    uint32_t ip;
    uint8_t number;
    std::function<void(uint32_t, const wire::EjectReply&)> done;
  };

  std::string computerName = "PC-A";
  std::vector<ServerEntry> servers;
  std::map<uint32_t, std::vector<wire::DeviceInfo>> devices;
  std::vector<EjectAsked> ejects;
  bool reachable = true;
  bool piecesAhead = true;
  std::vector<uint32_t> attached;
  std::vector<Forwarded> forwarded;
  std::vector<DataSent> dataSent;
};

// Collects the replies the dispatcher routes later, per connection.
class RecordingRouter : public ReplyRouter {
 public:
  void Complete(int connection, const busipc::Reply& reply) override {
    completed.emplace_back(connection, reply);
  }
  std::vector<std::pair<int, busipc::Reply>> completed;
};

}  // namespace tessaro::busd::fakes
