// SPDX-License-Identifier: GPL-2.0-or-later
// A PC proves the computer name it says Hello with: a second PC that names PC-A gets no session,
// so it cannot touch what PC-A links and locks, whatever proof it forges, borrows or replays.
#include <gtest/gtest.h>

#include <functional>

#include "hubd/Hub.h"
#include "hubd/Session.h"
#include "tests/hubd/Handshake.h"
#include "tests/support/FakeClock.h"
#include "tests/support/WireClient.h"

using namespace tessaro;
using namespace tessaro::hubd;
using tessaro::testing::TestKeyFor;
using wire::Frame;
using wire::MsgType;

namespace {

constexpr uint32_t kPeer = 0x0500007F;  // 127.0.0.5

HubConfig OneStorage() {
  HubConfig c;
  c.server.name = "NAS";
  c.server.address = "127.0.0.2";
  c.server.port = 2005;
  DeviceConfig d;
  d.number = 1;
  d.type = "MASS STORAGE";
  c.devices.push_back(d);
  return c;
}

std::vector<uint8_t> FrameBytes(MsgType type, uint32_t id, std::vector<uint8_t> payload) {
  return wire::EncodeFrame({type, 0, id, std::move(payload)});
}

std::vector<uint8_t> ProofBytes(const wire::Proof& proof) {
  return FrameBytes(MsgType::Proof, 2, wire::EncodeProof(proof));
}

class IdentityTest : public ::testing::Test {
 public:
  IdentityTest() {
    // PC-A is pinned, has linked the storage device and locked it.
    owner = std::make_unique<Session>(hub, kPeer, "owner");
    hubd::testing::Greet(hub, *owner, "PC-A", TestKeyFor("PC-A"));
    owner->Receive(
        FrameBytes(MsgType::Link, 3, wire::EncodeDeviceCommand(MsgType::Link, {1, 0, 0})));
    owner->Receive(
        FrameBytes(MsgType::Lock, 4, wire::EncodeDeviceCommand(MsgType::Lock, {1, 2, 600})));
    hubd::testing::TakeFrames(*owner);
    log.clear();
  }

  // The nonce of the Challenge a Hello as `name` got on `s`.
  wire::Nonce Challenged(Session& s, const std::string& name) {
    s.Receive(FrameBytes(MsgType::Hello, 1, wire::EncodeHello({wire::kVersionMajor, 0, name})));
    const auto frames = hubd::testing::TakeFrames(s);
    EXPECT_EQ(frames.size(), 1u);
    return wire::DecodeChallenge(frames.at(0).payload).value().nonce;
  }

  // `name` must outlive the context: the cases pass literals.
  wire::ProofContext Context(const wire::Nonce& nonce, std::string_view name) const {
    return {nonce, hub.address(), hub.tcpPort(), name};
  }

  tessaro::testing::FakeClock clock;
  std::vector<std::string> log;
  PinStore pins{"", nullptr};
  Hub hub{OneStorage(), clock, wire::kVersionMajor, pins,
          [this](const std::string& l) { log.push_back(l); }};
  std::unique_ptr<Session> owner;
};

struct Forgery {
  const char* what;
  // The Proof frame the impostor sends after its Hello as PC-A got `nonce`.
  std::function<std::vector<uint8_t>(IdentityTest&, const wire::Nonce& nonce)> proof;
  uint32_t status;
  const char* logged;
};
void PrintTo(const Forgery& row, std::ostream* os) { *os << row.what; }

class Impostor : public IdentityTest, public ::testing::WithParamInterface<Forgery> {};

TEST_P(Impostor, GetsNoSessionAndTheOwnersLockStands) {
  Session impostor(hub, 0x0900007F, "impostor");
  const wire::Nonce nonce = Challenged(impostor, "PC-A");
  impostor.Receive(GetParam().proof(*this, nonce));
  const auto frames = hubd::testing::TakeFrames(impostor);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].type, MsgType::Result);
  EXPECT_EQ(wire::DecodeResult(frames[0].payload), GetParam().status);
  EXPECT_FALSE(impostor.greeted());
  EXPECT_EQ(impostor.state(), Session::State::CloseAfterFlush);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find(GetParam().logged), std::string::npos) << log[0];
  // Nothing it sends afterwards is handled: the owner's device stays linked and locked.
  impostor.Receive(
      FrameBytes(MsgType::Unlock, 5, wire::EncodeDeviceCommand(MsgType::Unlock, {1, 0, 0})));
  EXPECT_TRUE(hubd::testing::TakeFrames(impostor).empty());
  const auto device = hub.table().List().at(0);
  EXPECT_EQ(device.owner, "PC-A");
  EXPECT_EQ(device.lockCount, 1);
  EXPECT_TRUE(hubd::testing::TakeFrames(*owner).empty()) << "no change was announced";
}

INSTANTIATE_TEST_SUITE_P(
    Table, Impostor,
    ::testing::Values(Forgery{"ItsOwnKey",
                              [](IdentityTest& f, const wire::Nonce& n) {
                                return ProofBytes(
                                    TestKeyFor("IMPOSTOR").Prove(f.Context(n, "PC-A")));
                              },
                              winerr::kAccessDenied, "not the one pinned for that name"},
                      Forgery{"OwnersKeyClaimedWithoutItsSecret",
                              [](IdentityTest& f, const wire::Nonce& n) {
                                wire::Proof p = TestKeyFor("IMPOSTOR").Prove(f.Context(n, "PC-A"));
                                p.publicKey = TestKeyFor("PC-A").publicKey();
                                return ProofBytes(p);
                              },
                              winerr::kAccessDenied, "does not hold"},
                      Forgery{"ProofRelayedFromAnotherServer",
                              [](IdentityTest& f, const wire::Nonce& n) {
                                wire::ProofContext c = f.Context(n, "PC-A");
                                c.serverIp ^= 0x01000000;  // 127.0.0.3
                                return ProofBytes(TestKeyFor("PC-A").Prove(c));
                              },
                              winerr::kAccessDenied, "does not hold"},
                      Forgery{"ProofOfAnEarlierChallenge",
                              [](IdentityTest& f, const wire::Nonce&) {
                                Session earlier(f.hub, kPeer, "earlier");
                                const wire::Nonce old = f.Challenged(earlier, "PC-A");
                                return ProofBytes(TestKeyFor("PC-A").Prove(f.Context(old, "PC-A")));
                              },
                              winerr::kAccessDenied, "does not hold"},
                      Forgery{"ProofOfAnotherName",
                              [](IdentityTest& f, const wire::Nonce& n) {
                                return ProofBytes(TestKeyFor("PC-A").Prove(f.Context(n, "PC-B")));
                              },
                              winerr::kAccessDenied, "does not hold"},
                      Forgery{"ProofCutShort",
                              [](IdentityTest&, const wire::Nonce&) {
                                return FrameBytes(MsgType::Proof, 2, std::vector<uint8_t>(95));
                              },
                              winerr::kInvalidParameter, "malformed Proof"}),
    [](const auto& row) { return std::string(row.param.what); });

TEST_F(IdentityTest, TheOwnerProvesItselfAgainOnAnyConnection) {
  Session again(hub, 0x0700007F, "again");
  const auto frames = hubd::testing::Greet(hub, again, "PC-A", TestKeyFor("PC-A"));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].type, MsgType::HelloReply);
  again.Receive(
      FrameBytes(MsgType::Unlock, 5, wire::EncodeDeviceCommand(MsgType::Unlock, {1, 0, 0})));
  const auto answer = hubd::testing::TakeFrames(again);
  ASSERT_EQ(answer.size(), 2u);
  EXPECT_EQ(wire::DecodeResult(answer[1].payload), 0u);
  EXPECT_EQ(hub.table().List().at(0).lockCount, 0);
}

TEST_F(IdentityTest, ANewNameIsPinnedToTheKeyItFirstCameWith) {
  Session first(hub, 0x0700007F, "first");
  ASSERT_EQ(hubd::testing::Greet(hub, first, "PC-NEW", TestKeyFor("PC-NEW")).at(0).type,
            MsgType::HelloReply);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], "pinned PC-NEW to key " + HexText(TestKeyFor("PC-NEW").publicKey()));
  Session second(hub, 0x0700007F, "second");
  const auto refused = hubd::testing::Greet(hub, second, "PC-NEW", TestKeyFor("OTHER"));
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].type, MsgType::Result);
  EXPECT_EQ(pins.size(), 2u);
}

}  // namespace

namespace {

TEST_F(IdentityTest, OneAddressPinsAFewNewNamesUntilTheNextReload) {
  const auto greet = [this](uint32_t peer, const std::string& name) {
    Session s(hub, peer, "peer");
    return hubd::testing::Greet(hub, s, name, TestKeyFor(name)).at(0).type;
  };
  const size_t share = hub.limits().newNamesPerAddress;
  // kPeer pinned PC-A already.
  for (size_t i = 1; i < share; ++i)
    ASSERT_EQ(greet(kPeer, "NEW-" + std::to_string(i)), MsgType::HelloReply) << i;
  EXPECT_EQ(greet(kPeer, "ONE-TOO-MANY"), MsgType::Result);
  EXPECT_NE(log.back().find("its address has pinned 16 already"), std::string::npos) << log.back();
  EXPECT_EQ(greet(kPeer, "PC-A"), MsgType::HelloReply) << "names it pinned still come in";
  EXPECT_EQ(greet(0x0A00007F, "ONE-TOO-MANY"), MsgType::HelloReply) << "another address can";
  hub.Reload(OneStorage());
  EXPECT_EQ(greet(kPeer, "AFTER-RELOAD"), MsgType::HelloReply);
}

}  // namespace
