// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/EventPump.h"
#include "platform/HostNetwork.h"

namespace tessaro {

constexpr uint16_t kSelfTestPort = 9303;

// This PC's name as the servers report it for a device in use here.
std::string ReadComputerName();

// The network checks of start-up and of the tray: which adapters can reach a device server, their
// gateways, and a UDP self-test that broadcasts on port 9303 and expects the datagram back (a
// firewall that drops it makes the client tell the user which ports to open).
class HostChecks {
 public:
  // `pump` (may be null) keeps the interface alive while the self-test waits.
  explicit HostChecks(HostNetwork& network, EventPump* pump = nullptr);
  ~HostChecks();
  HostChecks(const HostChecks&) = delete;
  HostChecks& operator=(const HostChecks&) = delete;

  // True unless the computer name fails to resolve or resolves first to a loopback address
  // (127.0.0.0/8).
  bool NetworkReady();

  // Refills the interface table from the qualifying adapters.
  void PrepareNetworkCheck();
  // One test socket per interface-table entry, on port 9303 or (anyPort) a system-chosen one.
  // False when the table is empty or any socket fails; earlier sockets then stay open.
  bool BindTestSockets(bool anyPort);
  // Broadcasts the test datagram from the first test socket and waits for it to come back.
  bool UdpLoopbackTest();
  void CloseTestSockets();
  // The end of the client's socket use: nothing stays open after it.
  void StopSockets();
  // True when some UDP endpoint (IPv4 or IPv6) has this local port.
  bool UdpPortInUse(uint16_t port);
  // The first gateway of each qualifying adapter (empty text when it has none), at most ten.
  std::vector<std::string> FindDefaultGateways();

  // The addresses of the interface table, index for index with the test sockets.
  std::vector<std::string> InterfaceTable() const;
  // Open test sockets, for the close sequence's bookkeeping and for tests.
  size_t OpenTestSocketCount() const;

 private:
  HostNetwork& network_;
  EventPump* pump_;
  std::vector<std::string> devices_;
  std::vector<std::string> addresses_;
  std::vector<int> sockets_;  // -1: empty slot
};

}  // namespace tessaro
