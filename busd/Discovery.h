// SPDX-License-Identifier: GPL-2.0-or-later
// Finds device servers by UDP broadcast: a Discover to each broadcast-capable interface's
// broadcast address, sent from a port the system picks; each DiscoverReply names a server.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "base/FileHandle.h"
#include "busd/HostAddresses.h"
#include "busd/HubSession.h"
#include "busd/PollSet.h"

namespace tessaro::busd {

class Discovery {
 public:
  static constexpr auto kInterval = std::chrono::seconds(5);
  using OnReply = std::function<void(uint32_t ip, const wire::ServerInfo& info)>;

  Discovery(uint16_t port, OnReply onReply);
  bool ok() const { return fd_.valid(); }

  void AddTo(PollSet& poll);
  // Broadcasts when due, on the interfaces given.
  void Tick(Clock::time_point now, const std::vector<Ipv4Interface>& interfaces);

 private:
  void Broadcast(const std::vector<Ipv4Interface>& interfaces);
  void Receive();

  UniqueFd fd_;
  uint16_t port_;
  OnReply onReply_;
  bool sentOnce_ = false;
  Clock::time_point lastSent_{};
};

}  // namespace tessaro::busd
