// SPDX-License-Identifier: GPL-2.0-or-later
#include "busd/BusSession.h"

namespace tessaro::busd {

BusSession::BusSession(const ConnectionInfo& info, RequestDispatcher& dispatcher)
    : info_(info), dispatcher_(dispatcher) {}

void BusSession::Feed(std::span<const uint8_t> bytes) {
  decoder_.Feed(bytes);
  Run();
}

void BusSession::Complete(const busipc::Reply& reply) {
  if (!waiting_) return;
  waiting_ = false;
  Send(reply);
  Run();
}

void BusSession::Run() {
  while (!waiting_) {
    const auto request = decoder_.Next();
    if (!request) return;
    const auto reply = dispatcher_.Handle(info_, *request);
    if (!reply) {
      waiting_ = true;
      return;
    }
    Send(*reply);
  }
}

void BusSession::Send(const busipc::Reply& reply) {
  const auto bytes = busipc::EncodeReply(reply);
  output_.insert(output_.end(), bytes.begin(), bytes.end());
}

}  // namespace tessaro::busd
