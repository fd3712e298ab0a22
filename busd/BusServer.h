// SPDX-License-Identifier: GPL-2.0-or-later
// The Trunk and Spur interfaces: their listening sockets and every connection to them, each
// carrying a BusSession. Routes replies that come later to their connection.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "busd/BusSession.h"
#include "busd/PollSet.h"
#include "busd/RequestDispatcher.h"
#include "busd/RuntimeFolder.h"

namespace tessaro::busd {

class BusServer : public ReplyRouter {
 public:
  BusServer(RuntimeFolder& folder, BusBackend& backend);
  ~BusServer() override;

  bool ListenTrunk(std::string& error);
  // The next Spur interface (0, 1, 2, ... in the order servers are attached).
  bool AddSpur(uint32_t serverIp, std::string& error);
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
  RequestDispatcher dispatcher_;
  std::vector<Listener> listeners_;
  std::map<int, Connection> connections_;
  int spurCount_ = 0;
  int nextId_ = 1;
};

}  // namespace tessaro::busd
