// SPDX-License-Identifier: GPL-2.0-or-later
// A PC's end of the hub wire for tests and benchmarks: blocking TCP with deadlines.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "base/FileHandle.h"
#include "protocol/HubWire.h"
#include "protocol/PcKey.h"

namespace tessaro::testing {

// The key a test PC of this name holds: the same name gives the same key in every test, so a PC
// that connects twice or again is the same identity, and two names are two.
wire::PcKey TestKeyFor(const std::string& computerName);

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
  // Says Hello, answers the Challenge with a Proof by `key` (TestKeyFor(name) when none) and
  // returns the HelloReply's payload: also the one a server of another major version answers
  // a Hello with. nullopt when anything else comes (a refusal's Result, a close).
  std::optional<wire::ServerInfo> Hello(const std::string& name,
                                        uint16_t major = wire::kVersionMajor,
                                        const std::optional<wire::PcKey>& key = std::nullopt);
  // The Result status the last Hello got instead of a HelloReply, 0 if none.
  uint32_t helloRefusal() const { return helloRefusal_; }

 private:
  // Reads more bytes into the decoder; false on close, error or deadline.
  bool Fill(std::chrono::steady_clock::time_point end);

  UniqueFd fd_;
  uint32_t serverIp_ = 0;  // network order
  uint16_t serverPort_ = 0;
  uint32_t helloRefusal_ = 0;
  wire::FrameDecoder decoder_;
  bool closed_ = false;
};

}  // namespace tessaro::testing
