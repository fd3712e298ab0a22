// SPDX-License-Identifier: GPL-2.0-or-later
// Answers discovery datagrams on the discovery port. Several hubd on one machine share the port:
// each binds the wildcard address with SO_REUSEADDR (restricted to the interface holding its own
// address, so broadcasts reach every server on that interface) plus its own address, which
// catches unicast discovery and is where every reply leaves from.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/FileHandle.h"
#include "protocol/HubWire.h"

namespace tessaro::hubd {

class Discovery {
 public:
  using LogFn = std::function<void(const std::string&)>;

  // ownAddress: network order. Failures are logged; discovery then runs with what it has.
  void Open(uint32_t ownAddress, uint16_t port, const LogFn& log);
  std::vector<int> Fds() const;
  // Reads one datagram from fd and answers it if it is a well-formed Discover.
  void OnReadable(int fd, const wire::ServerInfo& info);

 private:
  UniqueFd broadcast_;  // wildcard address, for broadcasts
  UniqueFd own_;        // hubd's own address: unicast discovery, and every reply
};

// The reply a datagram deserves: nullopt for anything but a well-formed Discover.
std::optional<std::vector<uint8_t>> AnswerDatagram(std::span<const uint8_t> datagram,
                                                   const wire::ServerInfo& info);

}  // namespace tessaro::hubd
