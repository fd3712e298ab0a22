// SPDX-License-Identifier: GPL-2.0-or-later
// hubd's single-threaded event loop: the TCP listener, one Session per connection, discovery,
// signals (through a signalfd, so no work runs in a signal handler) and the lock-expiry timer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/FileHandle.h"
#include "hubd/Config.h"
#include "hubd/Discovery.h"
#include "hubd/Hub.h"
#include "hubd/SaneGate.h"
#include "hubd/Session.h"
#include "hubd/WebServer.h"

struct pollfd;

namespace tessaro::hubd {

struct ListenOptions {
  std::string address;  // dotted IPv4
  uint16_t port = wire::kDefaultTcpPort;
  uint16_t discoveryPort = wire::kDiscoveryPort;
};

class Server {
 public:
  // Re-reads the config on SIGHUP; nullopt keeps the current one (the reader logs why).
  using ReloadFn = std::function<std::optional<HubConfig>()>;

  static constexpr size_t kMaxConnections = 512;

  Server(Hub& hub, ReloadFn reload) : hub_(hub), reload_(std::move(reload)) {}

  // Opens the listener, discovery and the signal descriptor; false with a message on failure.
  bool Start(const ListenOptions& options, std::string& error);
  // Serves until SIGTERM or SIGINT.
  void Run();
  // The web page joins the loop; it must outlive the server.
  void SetWeb(WebServer* web) { web_ = web; }
  // The SANE port joins the loop; it must outlive the server.
  void SetSaneGate(SaneGate* gate) { gate_ = gate; }

 private:
  struct Connection {
    UniqueFd fd;
    std::unique_ptr<Session> session;
    uint32_t peerIp = 0;  // network order, for the per-address limit
    bool dead = false;    // the socket failed or the peer closed it
  };

  bool OpenSignals(std::string& error);
  bool OpenListener(const ListenOptions& options, std::string& error);
  std::vector<pollfd> PollSet() const;
  int PollTimeout() const;
  void Dispatch(const std::vector<pollfd>& fds);
  void OnSignal();
  // Tells a service manager that waits (NOTIFY_SOCKET) how the server is doing.
  void TellServiceManager(const std::string& state);
  void Accept();
  void Read(Connection& c);
  void Flush(Connection& c);
  void Reap();
  void AddDeviceFds(std::vector<pollfd>& fds) const;
  void OnDeviceFds(const std::vector<pollfd>& fds);

  Hub& hub_;
  ReloadFn reload_;
  UniqueFd signals_;
  UniqueFd listener_;
  std::string listening_;  // "ip:port", once bound
  Discovery discovery_;
  std::vector<std::unique_ptr<Connection>> connections_;
  bool stopping_ = false;
  WebServer* web_ = nullptr;
  SaneGate* gate_ = nullptr;
  // Where the device descriptors start in the poll set, and the printers polled there.
  mutable size_t deviceFdsAt_ = 0;
  mutable std::vector<uint8_t> waitingNumbers_;
};

}  // namespace tessaro::hubd
