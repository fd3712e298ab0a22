// SPDX-License-Identifier: GPL-2.0-or-later
// A PC's end of the hub wire for tests and benchmarks: blocking TCP with deadlines.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "base/FileHandle.h"
#include "protocol/HubWire.h"

namespace tessaro::testing {

class WireClient {
 public:
  // Connects from `fromIp` (any local address when empty) to ip:port; check connected().
  // Each frame leaves at once (no Nagle delay), so round trips measure the server.
  WireClient(const std::string& ip, uint16_t port, const std::string& fromIp = "");

  bool connected() const { return fd_.valid(); }
  bool SendBytes(const std::vector<uint8_t>& bytes);
  bool Send(wire::MsgType type, uint32_t id, const std::vector<uint8_t>& payload = {});
  // The next frame; nullopt when the deadline passes, the peer closes or the stream breaks.
  std::optional<wire::Frame> Read(std::chrono::seconds deadline = std::chrono::seconds(10));
  // Every frame up to and including the reply carrying `id` (pushes that came first included).
  std::vector<wire::Frame> Call(wire::MsgType type, uint32_t id,
                                const std::vector<uint8_t>& payload = {});
  // True once the peer has closed the connection (frames still queued are skipped).
  bool WaitClosed(std::chrono::seconds deadline = std::chrono::seconds(10));
  // Sends Hello and returns the HelloReply's payload.
  std::optional<wire::ServerInfo> Hello(const std::string& name,
                                        uint16_t major = wire::kVersionMajor);

 private:
  // Reads more bytes into the decoder; false on close, error or deadline.
  bool Fill(std::chrono::steady_clock::time_point end);

  UniqueFd fd_;
  wire::FrameDecoder decoder_;
  bool closed_ = false;
};

}  // namespace tessaro::testing
