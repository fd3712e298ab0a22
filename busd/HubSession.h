// SPDX-License-Identifier: GPL-2.0-or-later
// busd's side of one TCP connection to a device server, without the socket: says Hello and
// proves this PC's name with its key, keeps
// the connection alive with pings, matches Results to the commands that asked for them and
// reports what the server tells (its identity, device lists, requests to use).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/HubWire.h"
#include "protocol/PcKey.h"

namespace tessaro::busd {

using Clock = std::chrono::steady_clock;

class HubListener {
 public:
  virtual ~HubListener() = default;
  virtual void OnServerInfo(const wire::ServerInfo& info, bool compatible) = 0;
  // `replyTo` is the id of the GetDevices it answers, 0 for a pushed change.
  virtual void OnDevices(std::vector<wire::DeviceInfo> devices, uint32_t replyTo) = 0;
  virtual void OnUseRequested(const wire::UseRequested& use) = 0;
};

class HubSession {
 public:
  static constexpr auto kPingInterval = std::chrono::seconds(3);
  static constexpr auto kSilenceLimit = std::chrono::seconds(10);
  // A server that answers pings but never a command must not hold its caller forever.
  static constexpr auto kCommandTimeout = std::chrono::seconds(5);
  // A job's data and end wait longer: the end is answered once the job is on the server's disk.
  static constexpr auto kDataTimeout = std::chrono::seconds(60);

  // serverIp (network order) and serverPort: where the connection goes, which the proof names.
  // `key` must outlive the session.
  HubSession(HubListener& listener, std::string computerName, const wire::PcKey& key,
             uint32_t serverIp, uint16_t serverPort, Clock::time_point now);
  ~HubSession();  // commands still waiting get 31

  void Feed(std::span<const uint8_t> bytes, Clock::time_point now);
  // Sends a ping when due and fails commands unanswered for kCommandTimeout with 31 (their late
  // Results are then ignored); false once the server has been silent too long.
  bool Tick(Clock::time_point now);

  // The request id of the GetDevices sent.
  uint32_t RequestDevices();
  void Command(wire::MsgType type, const wire::DeviceCommand& command,
               std::function<void(uint32_t result)> done);
  // `done` gets status 0 and the server's EjectReply, or the status of the Result that refused.
  // A piece of a job (WriteData), its end (EndData) or its abort (AbortData) for device
  // `number`; `data` only with WriteData.
  void Data(wire::MsgType type, uint8_t number, std::span<const uint8_t> data,
            std::function<void(uint32_t result)> done);
  using EjectDone = std::function<void(uint32_t status, const wire::EjectReply& reply)>;
  void Eject(uint8_t number, EjectDone done);

  bool broken() const { return !error_.empty(); }
  const std::string& error() const { return error_; }
  bool ready() const { return helloState_ == HelloState::Compatible; }
  bool incompatible() const { return helloState_ == HelloState::Incompatible; }
  // The minor version the server speaks, once it answered the Hello.
  uint16_t serverMinor() const { return serverMinor_; }
  std::vector<uint8_t>& output() { return output_; }

 private:
  enum class HelloState { Waiting, Proving, Compatible, Incompatible };

  uint32_t Send(wire::MsgType type, std::vector<uint8_t> payload);
  void Handle(const wire::Frame& frame);
  void HandleHelloReply(const wire::Frame& frame);
  void HandleChallenge(const wire::Frame& frame);
  void HandleDevices(const wire::Frame& frame);
  void HandleResult(const wire::Frame& frame);
  void HandleUseRequested(const wire::Frame& frame);
  void HandleEjectReply(const wire::Frame& frame);
  void Fail(std::string why);
  void ExpireCommands(Clock::time_point now);

  HubListener& listener_;
  std::string computerName_;
  const wire::PcKey& key_;
  uint32_t serverIp_;
  uint16_t serverPort_;
  uint32_t proofId_ = 0;  // the Proof's request id, whose refusal is a Result
  wire::FrameDecoder decoder_;
  std::vector<uint8_t> output_;
  std::map<uint32_t, std::function<void(uint32_t)>> pending_;
  std::map<uint32_t, EjectDone> pendingEjects_;
  std::map<uint32_t, Clock::time_point> deadlines_;  // of every pending command and eject
  Clock::time_point now_;                            // the latest time the session was told
  uint32_t nextId_ = 1;
  HelloState helloState_ = HelloState::Waiting;
  uint16_t serverMinor_ = 0;
  Clock::time_point lastHeard_;
  Clock::time_point lastPing_;
  std::string error_;
};

}  // namespace tessaro::busd
