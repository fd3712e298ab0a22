// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "platform/HostNetwork.h"

namespace tessaro {

// The machine's own interfaces, routes and UDP tables, and real sockets.
class LinuxHostNetwork : public HostNetwork {
 public:
  std::vector<AdapterFacts> ListAdapters() override;
  std::string ReadRouteTable() override;
  std::string ReadUdpTable(bool ipv6) override;
  std::optional<std::string> ResolveIPv4(const std::string& hostName) override;
  int OpenBroadcastSocket(const std::string& device, uint16_t port,
                          std::chrono::milliseconds receiveTimeout) override;
  bool SendBroadcast(int socket, const uint8_t* data, size_t size, uint16_t port) override;
  ReceiveStatus Receive(int socket, uint8_t* buffer, size_t capacity, size_t& received) override;
  void CloseSocket(int socket) override;
};

}  // namespace tessaro
