// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/Session.h"

#include "base/LogText.h"
#include "hubd/DeviceDescription.h"
#include "hubd/Hub.h"

namespace tessaro::hubd {

using wire::Frame;
using wire::MsgType;

namespace {
const char* CommandName(MsgType type) {
  switch (type) {
    case MsgType::Link: return "link";
    case MsgType::Unlink: return "unlink";
    case MsgType::Lock: return "lock";
    default: return "unlock";
  }
}
}  // namespace

Session::Session(Hub& hub, uint32_t peerIp, std::string peerText)
    : hub_(hub), peerIp_(peerIp), peer_(std::move(peerText)) {
  hub_.Attach(*this);
}

Session::~Session() { hub_.Detach(*this); }

void Session::Receive(std::span<const uint8_t> bytes) {
  if (state_ != State::Open) return;
  decoder_.Feed(bytes);
  while (state_ == State::Open) {
    auto frame = decoder_.Next();
    if (!frame) break;
    Handle(*frame);
  }
  if (decoder_.broken() && state_ == State::Open) Drop("malformed or oversized frame");
}

void Session::Push(const Frame& frame) {
  if (state_ == State::Drop) return;
  const auto bytes = wire::EncodeFrame(frame);
  output_.insert(output_.end(), bytes.begin(), bytes.end());
  if (output_.size() > kMaxQueuedBytes) Drop("the peer does not read what it is sent");
}

void Session::Consumed(size_t n) {
  output_.erase(output_.begin(),
                output_.begin() + static_cast<std::ptrdiff_t>(std::min(n, output_.size())));
}

void Session::Drop(const std::string& why) {
  state_ = State::Drop;
  output_.clear();
  output_.shrink_to_fit();
  hub_.Log("closing connection from " + peer_ + ": " + why);
}

void Session::Reply(const Frame& request, MsgType type, std::vector<uint8_t> payload) {
  Push(Frame{type, 0, request.id, std::move(payload)});
}

void Session::ReplyResult(const Frame& request, uint32_t status) {
  Reply(request, MsgType::Result, wire::EncodeResult(status));
}

bool Session::FromThisMachine() const {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&peerIp_);  // network order in memory
  return bytes[0] == 127;
}

void Session::Handle(const Frame& frame) {
  // Administration needs no Hello: the tool that sends it is no PC.
  if (frame.type == MsgType::SetEjectVeto && (greeted_ || FromThisMachine()))
    return HandleSetEjectVeto(frame);
  if (!greeted_) {
    if (frame.type == MsgType::Hello) return HandleHello(frame);
    return Drop("first frame is not a Hello");
  }
  switch (frame.type) {
    case MsgType::Ping:
      if (!frame.payload.empty()) return ReplyResult(frame, kStatusBadPayload);
      return Reply(frame, MsgType::Pong, {});
    case MsgType::GetDevices:
      if (!frame.payload.empty()) return ReplyResult(frame, kStatusBadPayload);
      hub_.RunExpiry();
      return Reply(frame, MsgType::DeviceList, wire::EncodeDeviceList(hub_.table().List()));
    case MsgType::Link:
    case MsgType::Unlink:
    case MsgType::Lock:
    case MsgType::Unlock:
    case MsgType::RequestToUse: return HandleDeviceCommand(frame);
    case MsgType::Eject: return HandleEject(frame);
    default:  // a repeated Hello, replies sent the wrong way, and what later versions add
      return ReplyResult(frame, kStatusInvalidFunction);
  }
}

void Session::HandleHello(const Frame& frame) {
  const auto hello = wire::DecodeHello(frame.payload);
  if (!hello || hello->computerName.empty() || hello->computerName.size() > kMaxComputerName) {
    // The name is the PC's identity for links and locks: without a sound one, no session.
    ReplyResult(frame, kStatusBadPayload);
    state_ = State::CloseAfterFlush;
    return hub_.Log("refusing " + peer_ + ": Hello without a usable computer name");
  }
  const wire::ServerInfo info = hub_.Info();
  Reply(frame, MsgType::HelloReply, wire::EncodeServerInfo(info));
  if (hello->major != info.major) {
    state_ = State::CloseAfterFlush;
    return hub_.Log("refusing " + LogText(hello->computerName) + " at " + peer_ +
                    ": it speaks version " + std::to_string(hello->major) + ", this server " +
                    std::to_string(info.major));
  }
  name_ = hello->computerName;
  greeted_ = true;
  hub_.Log(LogText(name_) + " connected from " + peer_);
}

void Session::HandleDeviceCommand(const Frame& frame) {
  const auto c = wire::DecodeDeviceCommand(frame.type, frame.payload);
  if (!c) return ReplyResult(frame, kStatusBadPayload);
  hub_.RunExpiry();  // a lock whose time is up must not refuse this command
  if (frame.type == MsgType::RequestToUse) return HandleRequestToUse(frame, *c);
  const DeviceTable::Outcome out = Apply(frame.type, *c);
  if (out.changed) {
    hub_.Log(LogText(name_) + ": " + CommandName(frame.type) + " device " +
             std::to_string(c->number));
    hub_.AnnounceChange();  // before the Result: the requester's cache is fresh when it arrives
  }
  ReplyResult(frame, out.status);
}

DeviceTable::Outcome Session::Apply(MsgType type, const wire::DeviceCommand& c) {
  DeviceTable& t = hub_.table();
  switch (type) {
    case MsgType::Link: return t.Link(c.number, name_);
    case MsgType::Unlink: return t.Unlink(c.number, name_);
    case MsgType::Lock: return t.Lock(c.number, name_, c.kind, c.value);
    default: return t.Unlock(c.number, name_, c.value);
  }
}

void Session::HandleEject(const Frame& frame) {
  const auto c = wire::DecodeDeviceCommand(MsgType::Eject, frame.payload);
  if (!c) return ReplyResult(frame, kStatusBadPayload);
  const DeviceTable::EjectOutcome out = hub_.table().Eject(c->number, name_);
  if (out.status != kStatusOk) return ReplyResult(frame, out.status);
  const std::string device = "device " + std::to_string(c->number);
  if (out.reply.vetoType != 0)
    hub_.Log(LogText(name_) + ": eject of " + device + " vetoed (" +
             std::to_string(out.reply.vetoType) + " " + LogText(out.reply.vetoName) + ")");
  else
    hub_.Log(LogText(name_) + ": " + device + " prepared for removal");
  Reply(frame, MsgType::EjectReply, wire::EncodeEjectReply(out.reply));
}

void Session::HandleSetEjectVeto(const Frame& frame) {
  // The veto decides what a PC may do with a device: only the server's own machine sets it.
  if (!FromThisMachine()) return ReplyResult(frame, kStatusRefused);
  const auto v = wire::DecodeSetEjectVeto(frame.payload);
  if (!v) return ReplyResult(frame, kStatusBadPayload);
  const uint32_t status = hub_.table().SetEjectVeto(v->number, v->vetoType, v->vetoName);
  if (status == kStatusOk)
    hub_.Log(peer_ + " sets the eject veto of device " + std::to_string(v->number) + " to " +
             std::to_string(v->vetoType) + (v->vetoType != 0 ? " " + LogText(v->vetoName) : ""));
  ReplyResult(frame, status);
}

void Session::HandleRequestToUse(const Frame& frame, const wire::DeviceCommand& c) {
  const auto owner = hub_.table().OwnerOf(c.number);
  if (!owner) return ReplyResult(frame, kStatusNotFound);
  if (!owner->empty()) {
    const wire::UseRequested request{1, c.number, c.value != 0 ? c.value : peerIp_, name_};
    hub_.NotifyOwner(*owner, request);
    hub_.Log(LogText(name_) + " asks " + LogText(*owner) + " for device " +
             std::to_string(c.number));
  }
  ReplyResult(frame, kStatusOk);
}

}  // namespace tessaro::hubd
