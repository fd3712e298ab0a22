// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/Session.h"

#include <algorithm>

#include "base/AsciiText.h"
#include "base/LogText.h"
#include "hubd/DeviceDescription.h"
#include "hubd/Hub.h"
#include "protocol/PcKey.h"
#include "protocol/TypeWords.h"

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
  opened_ = lastHeard_ = lastDrained_ = hub_.clock().Now();
  hub_.Attach(*this);
}

Session::~Session() { hub_.Detach(*this); }

void Session::Receive(std::span<const uint8_t> bytes) {
  if (state_ != State::Open) return;
  if (!bytes.empty()) lastHeard_ = hub_.clock().Now();
  decoder_.Feed(bytes);
  HandleSome();
}

void Session::Resume() {
  if (state_ == State::Open) HandleSome();
}

void Session::HandleSome() {
  backlog_ = false;
  for (size_t handled = 0; state_ == State::Open; ++handled) {
    if (handled == kFramesPerTurn) {
      backlog_ = true;
      return;
    }
    // A printer that has not taken the last piece yet holds up this PC's later requests, in
    // order; only those that change nothing (Ping, GetDevices) are answered meanwhile, so that a
    // printer busy for a while does not look to the PC like a server gone silent.
    const bool waiting = hub_.sink().Waiting(this);
    std::optional<wire::Frame> frame;
    if (!waiting && !held_.empty()) {
      frame = std::move(held_.front());
      held_.pop_front();
      heldBytes_ -= frame->payload.size();
    } else {
      frame = decoder_.Next();
      if (!frame) break;
      if ((waiting || !held_.empty()) && frame->type != MsgType::Ping &&
          frame->type != MsgType::GetDevices) {
        heldBytes_ += frame->payload.size();
        held_.push_back(std::move(*frame));
        continue;
      }
    }
    Handle(*frame);
  }
  if (decoder_.broken() && state_ == State::Open) Drop("malformed or oversized frame");
}

bool Session::wantsInput() const {
  // Requests held for a stalled printer are bounded: beyond that the PC itself is slowed.
  return state_ == State::Open && !backlog_ && heldBytes_ <= kMaxHeldBytes &&
         UnmergeableBytes() <= kMaxQueuedBytes;
}

bool Session::ReadyToResume() const {
  return backlog_ || (!held_.empty() && !hub_.sink().Waiting(this));
}

size_t Session::UnmergeableBytes() const { return output_.size() - (changeAt_ ? changeSize_ : 0); }

void Session::Push(const Frame& frame) {
  if (state_ == State::Drop) return;
  const auto bytes = wire::EncodeFrame(frame);
  if (output_.empty()) lastDrained_ = hub_.clock().Now();
  const bool change = frame.type == MsgType::DevicesChanged;
  if (change && changeAt_ && output_.size() >= kMergeAfterBytes) {
    const auto at = output_.begin() + static_cast<std::ptrdiff_t>(*changeAt_);
    output_.erase(at, at + static_cast<std::ptrdiff_t>(changeSize_));
    output_.insert(output_.begin() + static_cast<std::ptrdiff_t>(*changeAt_), bytes.begin(),
                   bytes.end());
    changeSize_ = bytes.size();
    return;
  }
  if (change) {
    changeAt_ = output_.size();
    changeSize_ = bytes.size();
  }
  output_.insert(output_.end(), bytes.begin(), bytes.end());
  if (UnmergeableBytes() > kHardQueuedBytes) Drop("the peer does not read what it is sent");
}

void Session::Consumed(size_t n) {
  n = std::min(n, output_.size());
  if (n == 0) return;
  // While over the cap its requests went unread: its silence then was not its own.
  const bool wasOver = UnmergeableBytes() > kMaxQueuedBytes;
  output_.erase(output_.begin(), output_.begin() + static_cast<std::ptrdiff_t>(n));
  lastDrained_ = hub_.clock().Now();
  // A notice that has begun to leave can no longer be replaced.
  if (changeAt_ && *changeAt_ < n) changeAt_.reset();
  if (changeAt_) *changeAt_ -= n;
  if (wasOver && UnmergeableBytes() <= kMaxQueuedBytes) lastHeard_ = lastDrained_;
}

Session::TimePoint Session::NextDeadline() const {
  const Limits& l = hub_.limits();
  if (!greeted_) return opened_ + l.helloTimeout;
  // Silence does not count while the peer's requests are left unread (CheckTimers).
  if (UnmergeableBytes() > kMaxQueuedBytes) return lastDrained_ + l.drainTimeout;
  return lastHeard_ + l.idleTimeout;
}

void Session::CheckTimers() {
  if (state_ == State::Drop) return;
  const Limits& l = hub_.limits();
  const TimePoint now = hub_.clock().Now();
  if (!greeted_ && now - opened_ >= l.helloTimeout) return Drop("no Hello in time");
  const bool over = UnmergeableBytes() > kMaxQueuedBytes;
  if (greeted_ && !over && now - lastHeard_ >= l.idleTimeout) return Drop("silent for too long");
  if (over && now - lastDrained_ >= l.drainTimeout) Drop("the peer does not read what it is sent");
}

void Session::Drop(const std::string& why) {
  state_ = State::Drop;
  output_.clear();
  output_.shrink_to_fit();
  changeAt_.reset();
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
    if (!challenge_ && frame.type == MsgType::Hello) return HandleHello(frame);
    if (challenge_ && frame.type == MsgType::Proof) return HandleProof(frame);
    return Drop(challenge_ ? "a Hello without its Proof" : "first frame is not a Hello");
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
    case MsgType::WriteData:
    case MsgType::EndData:
    case MsgType::AbortData: return HandleData(frame);
    default:  // a repeated Hello, replies sent the wrong way, and what later versions add
      return ReplyResult(frame, kStatusInvalidFunction);
  }
}

void Session::HandleHello(const Frame& frame) {
  const auto hello = wire::DecodeHello(frame.payload);
  if (!hello || hello->computerName.empty() || hello->computerName.size() > kMaxComputerName) {
    // The name is the PC's identity for links and locks: without a sound one, no session.
    return Refuse(frame, kStatusBadPayload, "Hello without a usable computer name");
  }
  const wire::ServerInfo info = hub_.Info();
  if (hello->major != info.major) {
    Reply(frame, MsgType::HelloReply, wire::EncodeServerInfo(info));
    state_ = State::CloseAfterFlush;
    return hub_.Log("refusing " + LogText(hello->computerName) + " at " + peer_ +
                    ": it speaks version " + std::to_string(hello->major) + ", this server " +
                    std::to_string(info.major));
  }
  name_ = hello->computerName;
  challenge_ = hub_.NewNonce();
  Reply(frame, MsgType::Challenge, wire::EncodeChallenge({info.major, info.minor, *challenge_}));
}

void Session::HandleProof(const Frame& frame) {
  const auto proof = wire::DecodeProof(frame.payload);
  if (!proof) return Refuse(frame, kStatusBadPayload, "malformed Proof");
  const wire::ProofContext context{*challenge_, hub_.address(), hub_.tcpPort(), name_};
  if (!wire::VerifyProof(*proof, context))
    return Refuse(frame, kStatusAccessDenied, LogText(name_) + " sent a proof that does not hold");
  const std::string key = HexText(proof->publicKey);
  if (!hub_.pins().Knows(name_) && !hub_.TakeNewNameFrom(peerIp_))
    return Refuse(frame, kStatusAccessDenied,
                  LogText(name_) + " is a new name and its address has pinned " +
                      std::to_string(hub_.limits().newNamesPerAddress) + " already");
  switch (hub_.pins().Check(name_, proof->publicKey)) {
    case PinStore::Verdict::Match: break;
    case PinStore::Verdict::Pinned: hub_.Log("pinned " + LogText(name_) + " to key " + key); break;
    case PinStore::Verdict::Mismatch:
      return Refuse(frame, kStatusAccessDenied,
                    LogText(name_) + " came with key " + key +
                        ", not the one pinned for that name (a replaced PC is re-pinned in " +
                        hub_.pins().path() + ")");
    case PinStore::Verdict::Full:
      return Refuse(frame, kStatusAccessDenied,
                    LogText(name_) + " is a new name and " + std::to_string(PinStore::kMaxPins) +
                        " names are pinned already");
    case PinStore::Verdict::WriteFailed:
      return Refuse(frame, kStatusAccessDenied,
                    "the pin of " + LogText(name_) + " cannot be written to " + hub_.pins().path());
  }
  Reply(frame, MsgType::HelloReply, wire::EncodeServerInfo(hub_.Info()));
  greeted_ = true;
  hub_.Log(LogText(name_) + " connected from " + peer_);
}

void Session::Refuse(const Frame& frame, uint32_t status, const std::string& why) {
  ReplyResult(frame, status);
  state_ = State::CloseAfterFlush;
  hub_.Log("refusing " + peer_ + ": " + why);
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

uint32_t Session::PrintRefusal(uint8_t number) const {
  const DeviceConfig* device = hub_.table().ConfigOf(number);
  if (!device) return kStatusNotFound;
  if (!wire::IsPrinterType(device->type) || (device->outputFolder.empty() && device->lpNode.empty()))
    return kStatusNotSupported;
  if (hub_.table().OwnerOf(number) != name_) return kStatusNotReady;
  return kStatusOk;
}

void Session::HandleData(const Frame& frame) {
  std::optional<wire::DeviceCommand> command;
  std::span<const uint8_t> data;
  if (frame.type == MsgType::WriteData && !frame.payload.empty()) {
    command = wire::DeviceCommand{frame.payload[0], 0, 0};
    data = std::span<const uint8_t>(frame.payload).subspan(1);
  } else if (frame.type != MsgType::WriteData) {
    command = wire::DecodeDeviceCommand(frame.type, frame.payload);
  }
  if (!command) return ReplyResult(frame, kStatusBadPayload);
  const uint8_t number = command->number;
  PrintSink& sink = hub_.sink();
  if (frame.type == MsgType::AbortData) {
    if (sink.Abort(number, this))
      hub_.Log(LogText(name_) + ": print job on device " + std::to_string(number) + " dropped");
    return ReplyResult(frame, kStatusOk);
  }
  hub_.RunExpiry();
  const bool ending = frame.type == MsgType::EndData;
  if (const uint32_t dropped = sink.DroppedJob(number, this, ending); dropped != kStatusOk)
    return ReplyResult(frame, dropped);
  if (const uint32_t refusal = PrintRefusal(number); refusal != kStatusOk)
    return ReplyResult(frame, refusal);
  const DeviceConfig& device = *hub_.table().ConfigOf(number);
  if (device.outputFolder.empty()) return HandlePrinterData(frame, device, data);
  const std::string& folder = device.outputFolder;
  if (frame.type == MsgType::WriteData)
    return ReplyResult(frame, sink.Write(number, folder, name_, this, data));
  std::string written;
  const uint32_t status = sink.End(number, folder, name_, this, written);
  if (status == kStatusOk) hub_.Log(LogText(name_) + ": print job written to " + LogText(written));
  ReplyResult(frame, status);
}

void Session::HandlePrinterData(const Frame& frame, const DeviceConfig& device,
                                std::span<const uint8_t> data) {
  PrintSink& sink = hub_.sink();
  const std::string job = "print job on device " + std::to_string(device.number);
  uint32_t status = frame.type == MsgType::WriteData
                        ? sink.WriteNode(device.number, device.lpNode, name_, this, data)
                        : sink.EndNode(device.number, device.lpNode, this);
  if (status == kStatusOk && frame.type == MsgType::EndData)
    hub_.Log(LogText(name_) + ": " + job + " sent to " + LogText(device.lpNode));
  else if (status != kStatusOk && status != winerr::kBusy)
    hub_.Log(LogText(name_) + ": " + job + " failed (status " + std::to_string(status) + ")");
  ReplyResult(frame, status);
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
