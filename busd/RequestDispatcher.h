// SPDX-License-Identifier: GPL-2.0-or-later
// Answers the requests of bus IPC connections: control codes of the Trunk and Spur interfaces
// and event reads. Replies that cannot be given at once (event reads, forwarded commands) go out
// later through the ReplyRouter.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "busd/BusBackend.h"
#include "busd/EventHub.h"
#include "busd/PrintJobs.h"
#include "protocol/BusFrame.h"

namespace tessaro::busd {

struct ConnectionInfo {
  int id = 0;
  bool trunk = true;
  pid_t pid = 0;          // peer process (SO_PEERCRED)
  uint32_t serverIp = 0;  // a Spur connection's server
};

class ReplyRouter {
 public:
  virtual ~ReplyRouter() = default;
  virtual void Complete(int connection, const busipc::Reply& reply) = 0;
};

class RequestDispatcher {
 public:
  RequestDispatcher(BusBackend& backend, ReplyRouter& router)
      : backend_(backend), router_(router), jobs_(backend, router) {}

  void Opened(const ConnectionInfo& connection);
  void Closed(int connection);
  // The reply to give now, or nullopt when it will come later through the router.
  std::optional<busipc::Reply> Handle(const ConnectionInfo& connection,
                                      const busipc::Request& request);
  // Delivers an event record to every Trunk connection that reads events.
  void Publish(const std::vector<uint8_t>& record);

 private:
  std::optional<busipc::Reply> HandleTrunk(const ConnectionInfo& c, const busipc::Request& r);
  std::optional<busipc::Reply> HandleSpur(const ConnectionInfo& c, const busipc::Request& r);
  std::optional<busipc::Reply> Forward(const ConnectionInfo& c, wire::MsgType type,
                                       const std::vector<uint8_t>& input);
  // The two plug-and-play codes: node present, request eject.
  std::optional<busipc::Reply> HandleDeviceNode(const ConnectionInfo& c, const busipc::Request& r);
  std::optional<LinkedDevice> FindLinked(const std::string& instanceId) const;
  // Write and end of device data: a print job from one Spur connection to a linked device.
  std::optional<busipc::Reply> HandleData(const ConnectionInfo& c, const busipc::Request& r);
  void Deliver(const std::vector<EventDelivery>& deliveries);

  BusBackend& backend_;
  ReplyRouter& router_;
  EventHub events_;
  PrintJobs jobs_;
};

}  // namespace tessaro::busd
