// SPDX-License-Identifier: GPL-2.0-or-later
#include "busd/HubSession.h"

#include "base/LogText.h"
#include "busd/BusBackend.h"

namespace tessaro::busd {

using wire::MsgType;

HubSession::HubSession(HubListener& listener, std::string computerName, const wire::PcKey& key,
                       uint32_t serverIp, uint16_t serverPort, Clock::time_point now)
    : listener_(listener), computerName_(std::move(computerName)), key_(key), serverIp_(serverIp),
      serverPort_(serverPort), now_(now), lastHeard_(now), lastPing_(now) {
  wire::Hello hello;
  hello.computerName = computerName_;
  Send(MsgType::Hello, wire::EncodeHello(hello));
}

HubSession::~HubSession() {
  // Callbacks may reach back into their owners; take them out first.
  auto pending = std::move(pending_);
  pending_.clear();
  auto ejects = std::move(pendingEjects_);
  pendingEjects_.clear();
  for (auto& [id, done] : pending) done(status::kGenFailure);
  for (auto& [id, done] : ejects) done(status::kGenFailure, {});
}

void HubSession::Feed(std::span<const uint8_t> bytes, Clock::time_point now) {
  if (broken()) return;
  now_ = now;
  lastHeard_ = now;
  decoder_.Feed(bytes);
  while (!broken()) {
    const auto frame = decoder_.Next();
    if (!frame) break;
    Handle(*frame);
  }
  if (decoder_.broken()) Fail("malformed frame");
}

bool HubSession::Tick(Clock::time_point now) {
  if (broken()) return false;
  now_ = now;
  ExpireCommands(now);
  if (now - lastHeard_ > kSilenceLimit) {
    Fail("no answer for 10 s");
    return false;
  }
  if (now - lastPing_ >= kPingInterval) {
    lastPing_ = now;
    Send(MsgType::Ping, {});
  }
  return true;
}

uint32_t HubSession::RequestDevices() { return Send(MsgType::GetDevices, {}); }

void HubSession::Command(MsgType type, const wire::DeviceCommand& command,
                         std::function<void(uint32_t)> done) {
  const uint32_t id = Send(type, wire::EncodeDeviceCommand(type, command));
  pending_[id] = std::move(done);
  deadlines_[id] = now_ + kCommandTimeout;
}

void HubSession::Data(MsgType type, uint8_t number, std::span<const uint8_t> data,
                      std::function<void(uint32_t)> done) {
  const uint32_t id =
      Send(type, type == MsgType::WriteData ? wire::EncodeWriteData(number, data)
                                            : wire::EncodeDeviceCommand(type, {number, 0, 0}));
  pending_[id] = std::move(done);
  deadlines_[id] = now_ + kDataTimeout;
}

void HubSession::Eject(uint8_t number, EjectDone done) {
  const auto payload = wire::EncodeDeviceCommand(MsgType::Eject, {number, 0, 0});
  const uint32_t id = Send(MsgType::Eject, payload);
  pendingEjects_[id] = std::move(done);
  deadlines_[id] = now_ + kCommandTimeout;
}

void HubSession::ExpireCommands(Clock::time_point now) {
  std::vector<uint32_t> expired;
  for (const auto& [id, deadline] : deadlines_)
    if (now >= deadline) expired.push_back(id);
  for (uint32_t id : expired) {
    deadlines_.erase(id);
    // Taken out before the call: a callback may send the next command on this session.
    if (auto it = pending_.find(id); it != pending_.end()) {
      auto done = std::move(it->second);
      pending_.erase(it);
      done(status::kGenFailure);
    } else if (auto eject = pendingEjects_.find(id); eject != pendingEjects_.end()) {
      auto done = std::move(eject->second);
      pendingEjects_.erase(eject);
      done(status::kGenFailure, {});
    }
  }
}

uint32_t HubSession::Send(MsgType type, std::vector<uint8_t> payload) {
  const uint32_t id = nextId_++;
  if (nextId_ == 0) nextId_ = 1;  // 0 marks pushed frames
  const auto bytes = wire::EncodeFrame({type, 0, id, std::move(payload)});
  output_.insert(output_.end(), bytes.begin(), bytes.end());
  return id;
}

void HubSession::Handle(const wire::Frame& frame) {
  switch (frame.type) {
    case MsgType::HelloReply: return HandleHelloReply(frame);
    case MsgType::Challenge: return HandleChallenge(frame);
    case MsgType::DeviceList:
    case MsgType::DevicesChanged: return HandleDevices(frame);
    case MsgType::Result: return HandleResult(frame);
    case MsgType::UseRequested: return HandleUseRequested(frame);
    case MsgType::EjectReply: return HandleEjectReply(frame);
    default: return;  // Pong and anything newer than us: hearing it is all that counts
  }
}

void HubSession::HandleChallenge(const wire::Frame& frame) {
  if (helloState_ != HelloState::Waiting) return Fail("a Challenge out of turn");
  const auto challenge = wire::DecodeChallenge(frame.payload);
  if (!challenge) return Fail("malformed Challenge");
  helloState_ = HelloState::Proving;
  const wire::ProofContext context{challenge->nonce, serverIp_, serverPort_, computerName_};
  proofId_ = Send(MsgType::Proof, wire::EncodeProof(key_.Prove(context)));
}

void HubSession::HandleHelloReply(const wire::Frame& frame) {
  const auto info = wire::DecodeServerInfo(frame.payload);
  if (!info) return Fail("malformed HelloReply");
  // Only a refused version is answered without a challenge: anything else would let a server
  // skip the proof, which does no harm to this PC but must not pass for a sound session.
  if (helloState_ == HelloState::Waiting && info->major == wire::kVersionMajor)
    return Fail("a HelloReply without a Challenge");
  if (helloState_ == HelloState::Compatible || helloState_ == HelloState::Incompatible) return;
  const bool compatible = info->major == wire::kVersionMajor;
  helloState_ = compatible ? HelloState::Compatible : HelloState::Incompatible;
  serverMinor_ = info->minor;
  listener_.OnServerInfo(*info, compatible);
}

void HubSession::HandleDevices(const wire::Frame& frame) {
  auto devices = wire::DecodeDeviceList(frame.payload);
  if (!devices) return Fail("malformed device list");
  const uint32_t replyTo = frame.type == MsgType::DeviceList ? frame.id : 0;
  listener_.OnDevices(std::move(*devices), replyTo);
}

void HubSession::HandleResult(const wire::Frame& frame) {
  const auto result = wire::DecodeResult(frame.payload);
  if (!result) return Fail("malformed Result");
  if (proofId_ != 0 && frame.id == proofId_ && helloState_ == HelloState::Proving) {
    return Fail(*result == status::kAccessDenied
                    ? "the server refuses this PC's key for the name " + LogText(computerName_) +
                          " (its administrator re-pins a replaced PC)"
                    : "the server refused the Hello with status " + std::to_string(*result));
  }
  if (const auto eject = pendingEjects_.find(frame.id); eject != pendingEjects_.end()) {
    deadlines_.erase(frame.id);
    auto done = std::move(eject->second);
    pendingEjects_.erase(eject);
    // A server that answers an eject with success but no EjectReply has not said "no veto".
    return done(*result == 0 ? status::kGenFailure : *result, {});
  }
  const auto it = pending_.find(frame.id);
  if (it == pending_.end()) return;  // a Result for nothing we wait for: ignore it
  auto done = std::move(it->second);
  pending_.erase(it);
  deadlines_.erase(frame.id);
  done(*result);
}

void HubSession::HandleEjectReply(const wire::Frame& frame) {
  const auto reply = wire::DecodeEjectReply(frame.payload);
  if (!reply) return Fail("malformed EjectReply");
  const auto it = pendingEjects_.find(frame.id);
  if (it == pendingEjects_.end()) return;
  auto done = std::move(it->second);
  pendingEjects_.erase(it);
  deadlines_.erase(frame.id);
  done(status::kSuccess, *reply);
}

void HubSession::HandleUseRequested(const wire::Frame& frame) {
  const auto use = wire::DecodeUseRequested(frame.payload);
  if (!use) return Fail("malformed UseRequested");
  listener_.OnUseRequested(*use);
}

void HubSession::Fail(std::string why) {
  if (error_.empty()) error_ = std::move(why);
}

}  // namespace tessaro::busd
