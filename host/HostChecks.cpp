// SPDX-License-Identifier: GPL-2.0-or-later
#include "host/HostChecks.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "base/ComputerName.h"
#include "base/Ipv4Text.h"
#include "host/Adapters.h"
#include "host/KernelTables.h"

namespace tessaro {

namespace {

constexpr std::array<uint8_t, 9> kTestDatagram = {'t', 'e', 's', 't', '_', 'u', 'd', 'p', 0};
constexpr std::chrono::milliseconds kReceiveTimeout{700};
constexpr int kSendCycles = 3;
constexpr int kReceiveAttempts = 1000;
constexpr int kTimeoutsPerCycle = 2;

// The whole of 127.0.0.0/8 is loopback: Debian, for one, maps the host name to 127.0.1.1.
bool IsLoopbackAddress(const std::string& dotted) {
  const auto address = ParseIpv4(dotted);
  return address && IsLoopbackIpv4(*address);
}

std::vector<Adapter> AllAdapters(HostNetwork& network) {
  std::vector<Adapter> all;
  for (const auto& facts : network.ListAdapters()) all.push_back(AdapterFrom(facts));
  return all;
}

}  // namespace

std::string ReadComputerName() { return ComputerName(); }

HostChecks::HostChecks(HostNetwork& network, EventPump* pump) : network_(network), pump_(pump) {}

HostChecks::~HostChecks() { CloseTestSockets(); }

bool HostChecks::NetworkReady() {
  const auto address = network_.ResolveIPv4(ReadComputerName());
  return address && !IsLoopbackAddress(*address);
}

void HostChecks::PrepareNetworkCheck() {
  // Sockets of an earlier round stay in their slots until CloseTestSockets; a new table must not
  // lose track of them.
  CloseTestSockets();
  devices_.clear();
  addresses_.clear();
  for (const auto& a : QualifyingAdapters(AllAdapters(network_))) {
    devices_.push_back(a.name);
    addresses_.push_back(a.ipv4);
  }
}

bool HostChecks::BindTestSockets(bool anyPort) {
  if (addresses_.empty()) return false;
  CloseTestSockets();
  sockets_.assign(devices_.size(), -1);
  for (size_t i = 0; i < devices_.size(); ++i) {
    sockets_[i] =
        network_.OpenBroadcastSocket(devices_[i], anyPort ? 0 : kSelfTestPort, kReceiveTimeout);
    if (sockets_[i] < 0) return false;
  }
  return true;
}

bool HostChecks::UdpLoopbackTest() {
  if (sockets_.empty() || sockets_[0] < 0) return false;
  const int socket = sockets_[0];
  for (int cycle = 0; cycle < kSendCycles; ++cycle) {
    // A send that fails says nothing about the firewall: the self-test does not warn then.
    if (!network_.SendBroadcast(socket, kTestDatagram.data(), kTestDatagram.size(), kSelfTestPort))
      return true;
    int timeouts = 0;
    for (int attempt = 0; attempt < kReceiveAttempts; ++attempt) {
      if (pump_ != nullptr) pump_->ProcessPendingEvents();
      std::array<uint8_t, 64> buffer{};
      size_t received = 0;
      const auto status = network_.Receive(socket, buffer.data(), buffer.size(), received);
      if (status == HostNetwork::ReceiveStatus::Datagram) {
        received = std::min(received, buffer.size());
        if (received >= kTestDatagram.size() &&
            std::memcmp(buffer.data(), kTestDatagram.data(), kTestDatagram.size()) == 0)
          return true;
        continue;  // someone else's datagram
      }
      if (status == HostNetwork::ReceiveStatus::Failed) break;
      if (++timeouts == kTimeoutsPerCycle) break;
    }
  }
  return false;
}

void HostChecks::CloseTestSockets() {
  for (int& s : sockets_) {
    if (s >= 0) network_.CloseSocket(s);
    s = -1;
  }
}

void HostChecks::StopSockets() {
  CloseTestSockets();
  sockets_.clear();
}

bool HostChecks::UdpPortInUse(uint16_t port) {
  for (const bool ipv6 : {false, true}) {
    const auto ports = ParseUdpLocalPorts(network_.ReadUdpTable(ipv6));
    if (std::find(ports.begin(), ports.end(), port) != ports.end()) return true;
  }
  return false;
}

std::vector<std::string> HostChecks::FindDefaultGateways() {
  const auto routes = ParseRouteTable(network_.ReadRouteTable());
  std::vector<std::string> gateways;
  for (const auto& a : QualifyingAdapters(AllAdapters(network_)))
    gateways.push_back(FirstGatewayOf(routes, a.name));
  return gateways;
}

std::vector<std::string> HostChecks::InterfaceTable() const { return addresses_; }

size_t HostChecks::OpenTestSocketCount() const {
  return static_cast<size_t>(
      std::count_if(sockets_.begin(), sockets_.end(), [](int s) { return s >= 0; }));
}

}  // namespace tessaro
