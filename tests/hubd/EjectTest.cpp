// SPDX-License-Identifier: GPL-2.0-or-later
// Eject requests and the eject veto, driven in-process: who may eject, what the config's veto
// and a veto set at run time answer, who may set one, and that a reload brings the file's back.
#include <gtest/gtest.h>

#include "hubd/Hub.h"
#include "hubd/Session.h"
#include "tests/hubd/Handshake.h"
#include "tests/support/FakeClock.h"
#include "tests/support/WireClient.h"

using namespace tessaro;
using namespace tessaro::hubd;
using wire::Frame;
using wire::MsgType;

namespace {

constexpr uint32_t kLoopbackPc = 0x0500007F;  // 127.0.0.5 as the wire carries it
constexpr uint32_t kLanPc = 0x0A00A8C0;       // 192.168.0.10

HubConfig Storage() {
  HubConfig c;
  c.server.address = "127.0.0.2";
  DeviceConfig free;
  free.number = 1;
  free.type = "MASS STORAGE";
  DeviceConfig busy = free;
  busy.number = 2;
  busy.ejectVeto = 5;
  busy.ejectVetoName = "Volume in use by Backup";
  c.devices = {free, busy};
  return c;
}

std::vector<uint8_t> Bytes(MsgType type, uint32_t id, std::vector<uint8_t> payload = {}) {
  return wire::EncodeFrame({type, 0, id, std::move(payload)});
}

std::vector<uint8_t> EjectBytes(uint8_t number, uint32_t id = 40) {
  return Bytes(MsgType::Eject, id, wire::EncodeDeviceCommand(MsgType::Eject, {number, 0, 0}));
}

std::vector<uint8_t> VetoBytes(uint8_t number, uint32_t type, const std::string& name) {
  return Bytes(MsgType::SetEjectVeto, 50, wire::EncodeSetEjectVeto({number, type, name}));
}

std::vector<Frame> Drain(Session& s) {
  wire::FrameDecoder d;
  d.Feed(s.output());
  s.Consumed(s.output().size());
  std::vector<Frame> frames;
  while (auto f = d.Next()) frames.push_back(*f);
  return frames;
}

// The one reply a request got: its Result status, or 0 and the EjectReply.
struct Answer {
  uint32_t result = 0xFFFFFFFF;
  std::optional<wire::EjectReply> eject;
};

Answer OnlyAnswer(Session& s) {
  const auto frames = Drain(s);
  EXPECT_EQ(frames.size(), 1u) << "one reply, and no change notice";
  Answer a;
  if (frames.empty()) return a;
  if (frames[0].type == MsgType::EjectReply) {
    a.result = 0;
    a.eject = wire::DecodeEjectReply(frames[0].payload);
    EXPECT_TRUE(a.eject);
  } else {
    EXPECT_EQ(frames[0].type, MsgType::Result);
    a.result = wire::DecodeResult(frames[0].payload).value_or(0xFFFFFFFF);
  }
  return a;
}

class EjectTest : public ::testing::Test {
 protected:
  std::unique_ptr<Session> Pc(const std::string& name, uint32_t peer = kLoopbackPc) {
    auto s = std::make_unique<Session>(hub, peer, "peer");
    hubd::testing::Greet(hub, *s, name, tessaro::testing::TestKeyFor(name));
    EXPECT_TRUE(s->greeted());
    return s;
  }
  void Link(Session& s, uint8_t number) {
    s.Receive(Bytes(MsgType::Link, 2, wire::EncodeDeviceCommand(MsgType::Link, {number, 0, 0})));
    Drain(s);
  }
  // What the owner's eject of `number` gets now.
  wire::EjectReply Ejected(Session& owner, uint8_t number) {
    owner.Receive(EjectBytes(number));
    return OnlyAnswer(owner).eject.value_or(wire::EjectReply{0xDEAD, "no reply"});
  }

  tessaro::testing::FakeClock clock;
  std::vector<std::string> log;
  PinStore pins{"", nullptr};
  Hub hub{Storage(), clock, wire::kVersionMajor, pins,
          [this](const std::string& l) { log.push_back(l); }};
};

TEST_F(EjectTest, OwnerGetsTheConfigsVetoOrNoneAndKeepsTheDevice) {
  auto a = Pc("PC-A");
  Link(*a, 1);
  Link(*a, 2);
  const wire::EjectReply none = Ejected(*a, 1);
  EXPECT_EQ(none.vetoType, 0u);
  EXPECT_EQ(none.vetoName, "");
  const wire::EjectReply vetoed = Ejected(*a, 2);
  EXPECT_EQ(vetoed.vetoType, 5u);
  EXPECT_EQ(vetoed.vetoName, "Volume in use by Backup");
  // Prepared for removal, the device stays the owner's until the owner lets it go.
  EXPECT_EQ(hub.table().List().at(0).owner, "PC-A");
  a->Receive(Bytes(MsgType::Unlink, 3, wire::EncodeDeviceCommand(MsgType::Unlink, {1, 0, 0})));
  EXPECT_EQ(wire::DecodeResult(Drain(*a).back().payload), 0u);
  EXPECT_NE(std::find(log.begin(), log.end(), "PC-A: device 1 prepared for removal"), log.end());
}

TEST_F(EjectTest, OnlyTheOwnerMayEject) {
  auto a = Pc("PC-A");
  auto b = Pc("PC-B");
  Link(*a, 1);
  Drain(*b);
  const struct {
    const char* what;
    Session* pc;
    uint8_t number;
    uint32_t result;
  } cases[] = {
      {"another PC's device", b.get(), 1, kStatusRefused},
      {"a free device", a.get(), 2, kStatusRefused},
      {"no such device", a.get(), 9, kStatusNotFound},
  };
  for (const auto& c : cases) {
    c.pc->Receive(EjectBytes(c.number));
    EXPECT_EQ(OnlyAnswer(*c.pc).result, c.result) << c.what;
  }
}

TEST_F(EjectTest, VetoSetAtRunTimeFromThisMachineUntilTheNextReload) {
  auto a = Pc("PC-A");
  Link(*a, 1);
  Link(*a, 2);
  // An administration tool on the server's machine, without a Hello.
  Session admin(hub, 0x0100007F, "127.0.0.1:4000");
  admin.Receive(VetoBytes(1, 6, "Open files on E:"));
  EXPECT_EQ(OnlyAnswer(admin).result, kStatusOk);
  admin.Receive(VetoBytes(2, 0, "ignored"));  // 0 lifts the config's veto too
  EXPECT_EQ(OnlyAnswer(admin).result, kStatusOk);
  EXPECT_EQ(admin.state(), Session::State::Open);

  wire::EjectReply r = Ejected(*a, 1);
  EXPECT_EQ(r.vetoType, 6u);
  EXPECT_EQ(r.vetoName, "Open files on E:");
  r = Ejected(*a, 2);
  EXPECT_EQ(r.vetoType, 0u);
  EXPECT_EQ(r.vetoName, "");

  hub.Reload(Storage());  // the file is the truth again
  EXPECT_EQ(Ejected(*a, 1).vetoType, 0u);
  EXPECT_EQ(Ejected(*a, 2).vetoType, 5u);
  EXPECT_EQ(hub.table().List().at(0).owner, "PC-A") << "a reload keeps the links";
}

TEST_F(EjectTest, VetoRequestsThatAreRefused) {
  // From another machine: before a Hello the connection is dropped, after it refused.
  Session stranger(hub, kLanPc, "192.168.0.10:4000");
  stranger.Receive(VetoBytes(1, 6, "x"));
  EXPECT_EQ(stranger.state(), Session::State::Drop);
  auto lanPc = Pc("PC-L", kLanPc);
  lanPc->Receive(VetoBytes(1, 6, "x"));
  EXPECT_EQ(OnlyAnswer(*lanPc).result, kStatusRefused);

  Session admin(hub, 0x0100007F, "127.0.0.1:4000");
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    uint32_t result;
  } cases[] = {
      {"no such device", VetoBytes(9, 6, "x"), kStatusNotFound},
      {"name over 259 bytes", VetoBytes(1, 6, std::string(260, 'n')), kStatusBadPayload},
      {"cut short", Bytes(MsgType::SetEjectVeto, 50, {1, 6, 0}), kStatusBadPayload},
  };
  for (const auto& c : cases) {
    admin.Receive(c.bytes);
    EXPECT_EQ(OnlyAnswer(admin).result, c.result) << c.what;
  }
  auto a = Pc("PC-A");
  Link(*a, 1);
  EXPECT_EQ(Ejected(*a, 1).vetoType, 0u) << "nothing refused changed the veto";
  admin.Receive(VetoBytes(1, 7, std::string(259, 'n')));
  EXPECT_EQ(OnlyAnswer(admin).result, kStatusOk) << "259 bytes fit";
  EXPECT_EQ(Ejected(*a, 1).vetoName.size(), 259u);
}

}  // namespace
