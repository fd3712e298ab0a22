// SPDX-License-Identifier: GPL-2.0-or-later
// One PC connection's protocol, without the socket: bytes in, frames handled, bytes queued out.
// The server moves the bytes; tests and the fuzz target drive a Session directly.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "hubd/DeviceTable.h"
#include "protocol/HubWire.h"

namespace tessaro::hubd {

class Hub;

class Session {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  // Output that cannot be merged (replies, use requests) beyond this stops reading the peer's
  // requests; a peer that then drains nothing for Limits::drainTimeout is dropped.
  static constexpr size_t kMaxQueuedBytes = 4 * 1024 * 1024;
  // Beyond this a peer is dropped at once, so a stalled one cannot grow hubd without bound.
  static constexpr size_t kHardQueuedBytes = 4 * kMaxQueuedBytes;
  // Once this much is queued unsent, a new DevicesChanged replaces the queued one instead of
  // following it: a PC that keeps up hears of every change, one that lags gets the latest list.
  static constexpr size_t kMergeAfterBytes = 64 * 1024;
  // Frames handled per Receive or Resume: one busy PC cannot hold up the loop for the others.
  static constexpr size_t kFramesPerTurn = 64;
  // Requests held while a printer has not taken the last piece: more than a PC sends ahead
  // (busd: 8 pieces), and past it the PC's socket is left unread.
  static constexpr size_t kMaxHeldBytes = 1024 * 1024;

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

  // Takes bytes and handles up to kFramesPerTurn frames; backlog() tells when more wait.
  void Receive(std::span<const uint8_t> bytes);
  // Handles up to kFramesPerTurn more of the frames already received.
  void Resume();
  bool backlog() const { return backlog_; }
  // Frames wait that can be handled now: a turn's backlog, or the printer took what waited.
  bool ReadyToResume() const;
  // False while the peer's backlog or unread replies are large: its socket is left unread.
  bool wantsInput() const;
  // Queues a frame. A DevicesChanged carries the whole list, so when the peer lags (see
  // kMergeAfterBytes) it replaces the last one still wholly unsent, in that one's place.
  void Push(const wire::Frame& frame);

  // Closes the connection when Hello is late, the peer fell silent, or it stopped reading.
  void CheckTimers();
  // When CheckTimers next has something to do.
  TimePoint NextDeadline() const;

  std::vector<uint8_t>& output() { return output_; }
  void Consumed(size_t n);
  State state() const { return state_; }
  bool greeted() const { return greeted_; }
  const std::string& computerName() const { return name_; }
  const std::string& peer() const { return peer_; }
  uint32_t peerIp() const { return peerIp_; }  // network order

 private:
  void HandleSome();
  size_t UnmergeableBytes() const;
  void Handle(const wire::Frame& frame);
  void HandleHello(const wire::Frame& frame);
  void HandleProof(const wire::Frame& frame);
  void Refuse(const wire::Frame& frame, uint32_t status, const std::string& why);
  void HandleDeviceCommand(const wire::Frame& frame);
  DeviceTable::Outcome Apply(wire::MsgType type, const wire::DeviceCommand& command);
  void HandleRequestToUse(const wire::Frame& frame, const wire::DeviceCommand& command);
  void HandleEject(const wire::Frame& frame);
  void HandleData(const wire::Frame& frame);
  // A job for a real printer: to its usblp node.
  void HandlePrinterData(const wire::Frame& frame, const DeviceConfig& device,
                         std::span<const uint8_t> data);
  // Why `number` takes no print data from this PC now, or kStatusOk.
  uint32_t PrintRefusal(uint8_t number) const;
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
  // Set once a Hello of our version came: the nonce its Proof must sign.
  std::optional<wire::Nonce> challenge_;
  bool greeted_ = false;
  State state_ = State::Open;
  std::vector<uint8_t> output_;
  bool backlog_ = false;
  // Requests that came while this PC's printer had not taken the last piece (see HandleSome).
  std::deque<wire::Frame> held_;
  size_t heldBytes_ = 0;
  // Where the queued, wholly unsent DevicesChanged starts in output_, and its length.
  std::optional<size_t> changeAt_;
  size_t changeSize_ = 0;
  TimePoint opened_;
  TimePoint lastHeard_;
  TimePoint lastDrained_;  // the last time the peer read, or the output was empty
};

}  // namespace tessaro::hubd
