// SPDX-License-Identifier: GPL-2.0-or-later
// Finds device servers by UDP broadcast: a Discover to each broadcast-capable interface's
// broadcast address, sent from a port the system picks; each DiscoverReply names a server. Each
// broadcast round carries a fresh random non-zero id, and only replies echoing one of the last
// few rounds' ids are taken: a stray or forged reply that answers no Discover of ours is dropped.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "base/FileHandle.h"
#include "base/Logger.h"
#include "busd/HostAddresses.h"
#include "busd/HubSession.h"
#include "busd/PollSet.h"

namespace tessaro::busd {

class Discovery {
 public:
  static constexpr auto kInterval = std::chrono::seconds(5);
  // Rounds whose replies are still taken: a server answering a little late is still found.
  static constexpr size_t kRecentRounds = 3;
  using OnReply = std::function<void(uint32_t ip, const wire::ServerInfo& info)>;

  Discovery(uint16_t port, OnReply onReply, const Logger& log);
  bool ok() const { return fd_.valid(); }

  void AddTo(PollSet& poll);
  // Broadcasts when due, on the interfaces given.
  void Tick(Clock::time_point now, const std::vector<Ipv4Interface>& interfaces);

 private:
  void Broadcast(const std::vector<Ipv4Interface>& interfaces);
  void Receive();
  bool IsRecentId(uint32_t id) const;

  UniqueFd fd_;
  uint16_t port_;
  OnReply onReply_;
  const Logger& log_;
  bool sentOnce_ = false;
  Clock::time_point lastSent_{};
  std::mt19937 random_{std::random_device{}()};
  std::array<uint32_t, kRecentRounds> recentIds_{};  // 0: no round yet
  size_t nextId_ = 0;
};

}  // namespace tessaro::busd
