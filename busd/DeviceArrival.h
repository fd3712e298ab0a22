// SPDX-License-Identifier: GPL-2.0-or-later
// Decides which devices a server reports go into the device database: only those this PC linked
// through this busd (its Link was forwarded and the server answered it with success), each
// recorded once per link (and once more whenever what its server says about it changes). A server
// that names this PC as the owner of devices it never linked gets nothing written, and no server
// gets more than kMaxRecordedPerServer distinct devices written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/Logger.h"
#include "protocol/HubWire.h"

namespace tessaro::busd {

class DeviceArrival {
 public:
  // Far more devices than one PC links on one server; enough to bound what a server can make
  // this PC write.
  static constexpr size_t kMaxRecordedPerServer = 32;

  using OnArrival = std::function<void(uint32_t serverIp, const wire::DeviceInfo& device)>;

  DeviceArrival(std::string computerName, OnArrival onArrival, const Logger& log)
      : computerName_(std::move(computerName)), onArrival_(std::move(onArrival)), log_(log) {}

  // A server's whole device list, as it arrives.
  void Update(uint32_t serverIp, const std::vector<wire::DeviceInfo>& devices);
  // This PC asked the server to link the device; its answer follows.
  void LinkRequested(uint32_t serverIp, uint8_t number);
  void LinkAnswered(uint32_t serverIp, uint8_t number, bool succeeded);

 private:
  struct Server {
    // The devices linked to this PC in its last list.
    std::vector<wire::DeviceInfo> owned;
    std::set<uint8_t> requested;  // Links forwarded and not answered yet
    std::set<uint8_t> confirmed;  // Links that succeeded, until the device leaves this PC
    // What was recorded for the links that still stand, by identity.
    std::vector<wire::DeviceInfo> recorded;
    // Every distinct device ever recorded for this server, by identity: the cap counts these.
    std::vector<wire::DeviceInfo> written;
    bool capLogged = false;
  };

  // Records the confirmed devices of the last list that are not recorded yet.
  void Settle(uint32_t serverIp, Server& s);

  std::string computerName_;
  OnArrival onArrival_;
  const Logger& log_;
  std::map<uint32_t, Server> servers_;
};

}  // namespace tessaro::busd
