// SPDX-License-Identifier: GPL-2.0-or-later
// One row of busd's server list as programs see it through the bus IPC.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tessaro::busd {

enum class ServerState : uint8_t { NotAnswering = 0, Answering = 1, Incompatible = 2 };

struct ServerEntry {
  uint32_t ip = 0;  // network byte order, as inet_addr gives it
  ServerState state = ServerState::NotAnswering;
  std::array<uint8_t, 6> mac{};
  int32_t storageMode = 0;
  std::string name;

  bool operator==(const ServerEntry&) const = default;
};

}  // namespace tessaro::busd
