// SPDX-License-Identifier: GPL-2.0-or-later
// Arbitrary bytes as the streams of three connections (two greeted PCs and one that never said
// Hello) into hubd's frame handling and device table, with time passing, reloads and proofs
// between pieces: a sound proof for whatever name the stranger's Hello gave, by PC-A's key or a
// key of its own, so that pinning, matching and refusing keys are reached too. Checks that
// everything hubd sends back is well-formed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "hubd/Hub.h"
#include "hubd/Session.h"
#include "tests/hubd/Handshake.h"

using namespace tessaro;
using namespace tessaro::hubd;

namespace {

class StepClock : public Clock {
 public:
  std::chrono::steady_clock::time_point Now() const override { return now_; }
  std::chrono::system_clock::time_point WallNow() const override { return {}; }
  void Sleep(Duration d) override { now_ += d; }

 private:
  std::chrono::steady_clock::time_point now_{};
};

HubConfig Config(bool withThird) {
  HubConfig c;
  c.server.name = "FUZZ";
  for (uint8_t n = 1; n <= (withThird ? 3 : 2); ++n) {
    DeviceConfig d;
    d.number = n;
    d.vendorId = n;
    d.productId = n;
    d.usbClass = "07/01/02";
    c.devices.push_back(d);
  }
  return c;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

// Takes what a session queued and checks it is a sequence of well-formed frames.
void DrainAndCheck(Session& s, std::optional<wire::Frame>* challenge) {
  Check(s.output().size() <= Session::kHardQueuedBytes + wire::kHeaderSize + wire::kMaxPayload);
  wire::FrameDecoder d;
  d.Feed(s.output());
  s.Consumed(s.output().size());
  while (auto f = d.Next()) {
    if (f->type == wire::MsgType::Challenge) {
      Check(wire::DecodeChallenge(f->payload).has_value());
      if (challenge) *challenge = *f;
    }
    if (f->type == wire::MsgType::HelloReply) Check(wire::DecodeServerInfo(f->payload).has_value());
    if (f->type == wire::MsgType::DevicesChanged || f->type == wire::MsgType::DeviceList)
      Check(wire::DecodeDeviceList(f->payload).has_value());
    if (f->type == wire::MsgType::Result) Check(wire::DecodeResult(f->payload).has_value());
    if (f->type == wire::MsgType::UseRequested)
      Check(wire::DecodeUseRequested(f->payload).has_value());
  }
  Check(!d.broken());
}

wire::PcKey KeyOf(uint8_t which) {
  wire::KeySeed seed{};
  seed.fill(which);
  return wire::PcKey::FromSeed(seed);
}

std::unique_ptr<Session> Greeted(Hub& hub, const std::string& name, uint32_t peer) {
  auto s = std::make_unique<Session>(hub, peer, name);
  hubd::testing::Greet(hub, *s, name, KeyOf(static_cast<uint8_t>(name.back())));
  Check(s->greeted());
  return s;
}

// The challenge the stranger was sent last, answered for the name its Hello gave.
void ProveStranger(Hub& hub, Session& stranger, const wire::Frame& challenge, bool asPcA) {
  const auto proof =
      hubd::testing::ProofFor(hub, {challenge}, stranger.computerName(), KeyOf(asPcA ? 'A' : 'Z'));
  if (proof) stranger.Receive(*proof);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  StepClock clock;
  PinStore pins("", nullptr);
  Hub hub(Config(false), clock, wire::kVersionMajor, pins, nullptr);
  uint8_t nonce = 0;  // the same input must take the same path
  hub.SetNonceSource([&nonce] {
    wire::Nonce n{};
    n.fill(++nonce);
    return n;
  });
  std::unique_ptr<Session> sessions[3] = {Greeted(hub, "PC-A", 0x0500007F),
                                          Greeted(hub, "PC-B", 0x0900007F),
                                          std::make_unique<Session>(hub, 0x0600007F, "stranger")};
  std::optional<wire::Frame> lastChallenge;
  std::span<const uint8_t> rest(data, size);
  // Each piece: a control byte (which connection, how long, how much time passes), then bytes.
  while (!rest.empty()) {
    const uint8_t control = rest[0];
    rest = rest.subspan(1);
    const size_t length = std::min<size_t>(rest.size(), 1 + (control >> 3));
    const size_t which = control & 3;
    if (which == 3 && (control & 0x80) && lastChallenge) {
      ProveStranger(hub, *sessions[2], *lastChallenge, (control & 0x40) != 0);
    } else if (which == 3) {
      hub.Reload(Config((control & 4) != 0));
    } else {
      sessions[which]->Receive(rest.first(length));
      rest = rest.subspan(length);
    }
    clock.Sleep(std::chrono::seconds(control & 4 ? 1 : 0));
    hub.RunExpiry();
    for (auto& s : sessions) DrainAndCheck(*s, s == sessions[2] ? &lastChallenge : nullptr);
  }
  return 0;
}
