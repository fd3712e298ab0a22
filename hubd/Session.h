// SPDX-License-Identifier: GPL-2.0-or-later
// One PC connection's protocol, without the socket: bytes in, frames handled, bytes queued out.
// The server moves the bytes; tests and the fuzz target drive a Session directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "hubd/DeviceTable.h"
#include "protocol/HubWire.h"

namespace tessaro::hubd {

class Hub;

class Session {
 public:
  // A peer that lets this much output pile up without reading is dropped.
  static constexpr size_t kMaxQueuedBytes = 4 * 1024 * 1024;

  enum class State {
    Open,
    CloseAfterFlush,  // send what is queued, then close (a refused version)
    Drop,             // close now
  };

  // peerIp: the TCP peer's IPv4 address as it goes on the wire (network order).
  Session(Hub& hub, uint32_t peerIp, std::string peerText);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void Receive(std::span<const uint8_t> bytes);
  void Push(const wire::Frame& frame);

  std::vector<uint8_t>& output() { return output_; }
  void Consumed(size_t n);
  State state() const { return state_; }
  bool greeted() const { return greeted_; }
  const std::string& computerName() const { return name_; }

 private:
  void Handle(const wire::Frame& frame);
  void HandleHello(const wire::Frame& frame);
  void HandleDeviceCommand(const wire::Frame& frame);
  DeviceTable::Outcome Apply(wire::MsgType type, const wire::DeviceCommand& command);
  void HandleRequestToUse(const wire::Frame& frame, const wire::DeviceCommand& command);
  void HandleEject(const wire::Frame& frame);
  void HandleSetEjectVeto(const wire::Frame& frame);
  bool FromThisMachine() const;  // the peer is on 127.0.0.0/8
  void Reply(const wire::Frame& request, wire::MsgType type, std::vector<uint8_t> payload);
  void ReplyResult(const wire::Frame& request, uint32_t status);
  void Drop(const std::string& why);

  Hub& hub_;
  uint32_t peerIp_;
  std::string peer_;
  wire::FrameDecoder decoder_;
  std::string name_;
  bool greeted_ = false;
  State state_ = State::Open;
  std::vector<uint8_t> output_;
};

}  // namespace tessaro::hubd
