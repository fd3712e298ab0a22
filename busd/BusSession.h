// SPDX-License-Identifier: GPL-2.0-or-later
// One bus IPC connection without its socket: decodes the request stream, hands each request to
// the dispatcher in order (one at a time: the next waits while a reply is outstanding) and
// collects the encoded replies to send.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "busd/RequestDispatcher.h"
#include "protocol/BusFrame.h"

namespace tessaro::busd {

class BusSession {
 public:
  BusSession(const ConnectionInfo& info, RequestDispatcher& dispatcher);

  void Feed(std::span<const uint8_t> bytes);
  // The outstanding reply has come; the requests waiting behind it run now.
  void Complete(const busipc::Reply& reply);

  const ConnectionInfo& info() const { return info_; }
  bool broken() const { return decoder_.broken(); }
  bool waiting() const { return waiting_; }
  std::vector<uint8_t>& output() { return output_; }

 private:
  void Run();
  void Send(const busipc::Reply& reply);

  ConnectionInfo info_;
  RequestDispatcher& dispatcher_;
  busipc::RequestDecoder decoder_;
  std::vector<uint8_t> output_;
  bool waiting_ = false;
};

}  // namespace tessaro::busd
