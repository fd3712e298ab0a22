// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessaro {

// What the kernel says about one network adapter, as raw as it comes; the host checks decide.
struct AdapterFacts {
  std::string name;          // interface name, e.g. "eth0"
  std::string typeText;      // content of /sys/class/net/<name>/type (an ARPHRD number)
  std::string hardwareText;  // content of /sys/class/net/<name>/address ("aa:bb:...")
  std::string ipv4;          // first IPv4 address as dotted text, "0.0.0.0" when it has none
};

// The machine's network facts and the UDP sockets of the start-up self-test.
class HostNetwork {
 public:
  enum class ReceiveStatus { Datagram, TimedOut, Failed };

  virtual ~HostNetwork() = default;

  // Adapters in the order the system numbers them.
  virtual std::vector<AdapterFacts> ListAdapters() = 0;
  // The routing table as /proc/net/route shows it; empty when unreadable.
  virtual std::string ReadRouteTable() = 0;
  // The UDP endpoint table (/proc/net/udp or udp6); empty when unreadable.
  virtual std::string ReadUdpTable(bool ipv6) = 0;
  // The first IPv4 address a name resolves to, as dotted text; nullopt when the lookup fails.
  virtual std::optional<std::string> ResolveIPv4(const std::string& hostName) = 0;

  // A UDP socket with broadcast on, bound to the wildcard address and `port` (0: the system
  // picks) and restricted to `device`, with a receive time-out. -1 on any failure, nothing
  // left open then.
  virtual int OpenBroadcastSocket(const std::string& device, uint16_t port,
                                  std::chrono::milliseconds receiveTimeout) = 0;
  // Sends to 255.255.255.255:`port`; false when the send fails.
  virtual bool SendBroadcast(int socket, const uint8_t* data, size_t size, uint16_t port) = 0;
  // Receives one datagram into at most `capacity` bytes; `received` is its stored length.
  virtual ReceiveStatus Receive(int socket, uint8_t* buffer, size_t capacity, size_t& received) = 0;
  virtual void CloseSocket(int socket) = 0;
};

}  // namespace tessaro
