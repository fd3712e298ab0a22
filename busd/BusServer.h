// SPDX-License-Identifier: GPL-2.0-or-later
// The Trunk and Spur interfaces: their listening sockets and every connection to them, each
// carrying a BusSession. Routes replies that come later to their connection.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/Logger.h"
#include "busd/BusSession.h"
#include "busd/PollSet.h"
#include "busd/RequestDispatcher.h"
#include "busd/RuntimeFolder.h"

namespace tessaro::busd {

// What one client may hold in busd, so clients that never read or keep connecting cannot grow it
// without bound.
struct BusLimits {
  // A connection whose unsent replies pass this many bytes is closed. At least one largest reply.
  static constexpr size_t kMinQueuedOutput = busipc::kReplyHeaderSize + busipc::kMaxPayload;
  size_t maxConnections = 512;  // connections beyond it are closed as soon as accepted
  size_t maxQueuedOutput = 1024 * 1024;
};

class BusServer : public ReplyRouter {
 public:
  // While accept fails for want of descriptors, the listeners rest this long.
  static constexpr auto kAcceptBackoff = std::chrono::milliseconds(500);

  BusServer(RuntimeFolder& folder, BusBackend& backend, const Logger& log, BusLimits limits = {});
  ~BusServer() override;

  Result<> ListenTrunk();
  // The next Spur interface (0, 1, 2, ... in the order servers are attached).
  Result<> AddSpur(uint32_t serverIp);
  void Publish(const std::vector<uint8_t>& record) { dispatcher_.Publish(record); }
  void AddTo(PollSet& poll);
  void Complete(int connection, const busipc::Reply& reply) override;

 private:
  struct Listener {
    UniqueFd fd;
    bool trunk = true;
    uint32_t serverIp = 0;
  };
  struct Connection {
    UniqueFd fd;
    std::unique_ptr<BusSession> session;
  };

  void Accept(const Listener& listener);
  void OnReady(int id, short revents);
  bool ReadSome(Connection& c);
  bool Flush(Connection& c);
  void Close(int id);

  RuntimeFolder& folder_;
  const Logger& log_;
  BusLimits limits_;
  RequestDispatcher dispatcher_;
  std::vector<Listener> listeners_;
  std::map<int, Connection> connections_;
  int spurCount_ = 0;
  int nextId_ = 1;
  std::chrono::steady_clock::time_point acceptAgain_{};
  bool refusing_ = false;  // logged once until a connection closes
};

}  // namespace tessaro::busd
