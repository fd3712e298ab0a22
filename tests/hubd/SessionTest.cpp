// SPDX-License-Identifier: GPL-2.0-or-later
// A connection's protocol driven in-process: Hello rules, replies, and the order in which change
// notices, use requests and results reach each PC.
#include <gtest/gtest.h>

#include "hubd/Hub.h"
#include "hubd/Session.h"
#include "tests/hubd/Handshake.h"
#include "tests/support/FakeClock.h"
#include "tests/support/WireClient.h"

using namespace tessaro;
using namespace tessaro::hubd;
using namespace std::chrono_literals;
using wire::Frame;
using wire::MsgType;

namespace {

constexpr uint32_t kPeerA = 0x0500007F;  // 127.0.0.5 as the wire carries it
constexpr uint32_t kPeerB = 0x0900007F;  // 127.0.0.9

HubConfig TwoDevices() {
  HubConfig c;
  c.server.name = "SRV";
  c.server.address = "127.0.0.2";
  c.server.mac = {1, 2, 3, 4, 5, 6};
  c.server.storageMode = 4;
  for (uint8_t n = 1; n <= 2; ++n) {
    DeviceConfig d;
    d.number = n;
    d.vendorId = n;
    d.productId = n;
    c.devices.push_back(d);
  }
  return c;
}

std::vector<uint8_t> Bytes(MsgType type, uint32_t id, std::vector<uint8_t> payload = {}) {
  return wire::EncodeFrame({type, 0, id, std::move(payload)});
}

std::vector<uint8_t> HelloBytes(const std::string& name, uint16_t major = wire::kVersionMajor) {
  return Bytes(MsgType::Hello, 1, wire::EncodeHello({major, 0, name}));
}

std::vector<uint8_t> Command(MsgType type, uint32_t id, uint8_t number, uint8_t kind = 0,
                             uint32_t value = 0) {
  return Bytes(type, id, wire::EncodeDeviceCommand(type, {number, kind, value}));
}

// Takes every frame a session has queued.
std::vector<Frame> Drain(Session& s) {
  wire::FrameDecoder d;
  d.Feed(s.output());
  s.Consumed(s.output().size());
  std::vector<Frame> frames;
  while (auto f = d.Next()) frames.push_back(*f);
  EXPECT_FALSE(d.broken());
  return frames;
}

uint32_t ResultOf(const Frame& f) {
  EXPECT_EQ(f.type, MsgType::Result);
  return wire::DecodeResult(f.payload).value_or(0xFFFFFFFF);
}

class SessionTest : public ::testing::Test {
 protected:
  std::unique_ptr<Session> Greeted(const std::string& name, uint32_t peer) {
    auto s = std::make_unique<Session>(hub, peer, "peer");
    hubd::testing::Greet(hub, *s, name, tessaro::testing::TestKeyFor(name));
    EXPECT_TRUE(s->greeted());
    return s;
  }

  tessaro::testing::FakeClock clock;
  std::vector<std::string> log;
  PinStore pins{"", nullptr};
  Hub hub{TwoDevices(), clock, wire::kVersionMajor, pins,
          [this](const std::string& l) { log.push_back(l); }};
};

TEST_F(SessionTest, HelloReplyCarriesTheServerIdentity) {
  Session s(hub, kPeerA, "peer");
  const auto frames = hubd::testing::Greet(hub, s, "PC-A", tessaro::testing::TestKeyFor("PC-A"));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].type, MsgType::HelloReply);
  EXPECT_EQ(frames[0].id, 2u) << "the Proof's id";
  const auto info = wire::DecodeServerInfo(frames[0].payload);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->name, "SRV");
  EXPECT_EQ(info->mac, (std::array<uint8_t, 6>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(info->storageMode, 4);
  EXPECT_EQ(info->major, wire::kVersionMajor);
  EXPECT_EQ(s.state(), Session::State::Open);
}

struct RefusedHello {
  const char* what;
  std::vector<uint8_t> bytes;
  Session::State state;
  std::vector<MsgType> replies;
};
void PrintTo(const RefusedHello& row, std::ostream* os) { *os << row.what; }

class SessionHelloRefusals : public SessionTest,
                             public ::testing::WithParamInterface<RefusedHello> {};

TEST_P(SessionHelloRefusals, EndTheConnection) {
  Session s(hub, kPeerA, "peer");
  s.Receive(GetParam().bytes);
  std::vector<MsgType> types;
  for (const Frame& f : Drain(s)) types.push_back(f.type);
  EXPECT_EQ(types, GetParam().replies);
  EXPECT_EQ(s.state(), GetParam().state);
  EXPECT_FALSE(s.greeted());
  EXPECT_EQ(log.size(), 1u) << "one log line per refusal";
}

INSTANTIATE_TEST_SUITE_P(
    Table, SessionHelloRefusals,
    ::testing::Values(
        RefusedHello{"PingBeforeHello", Bytes(MsgType::Ping, 3), Session::State::Drop, {}},
        RefusedHello{"LinkBeforeHello", Command(MsgType::Link, 3, 1), Session::State::Drop, {}},
        RefusedHello{"OtherMajorVersion",
                     HelloBytes("PC-A", wire::kVersionMajor + 1),
                     Session::State::CloseAfterFlush,
                     {MsgType::HelloReply}},
        RefusedHello{"EmptyComputerName",
                     HelloBytes(""),
                     Session::State::CloseAfterFlush,
                     {MsgType::Result}},
        RefusedHello{"ComputerNameOver63Bytes",
                     HelloBytes(std::string(64, 'N')),
                     Session::State::CloseAfterFlush,
                     {MsgType::Result}},
        RefusedHello{"TruncatedHelloPayload",
                     Bytes(MsgType::Hello, 1, {1, 0, 0}),
                     Session::State::CloseAfterFlush,
                     {MsgType::Result}},
        RefusedHello{"BadMagic", std::vector<uint8_t>(16, 0x41), Session::State::Drop, {}},
        RefusedHello{"ProofBeforeHello",
                     Bytes(MsgType::Proof, 1, std::vector<uint8_t>(96)),
                     Session::State::Drop,
                     {}},
        RefusedHello{"PingBetweenHelloAndProof",
                     [] {
                       auto b = HelloBytes("PC-A");
                       const auto ping = Bytes(MsgType::Ping, 2);
                       b.insert(b.end(), ping.begin(), ping.end());
                       return b;
                     }(),
                     Session::State::Drop,
                     {}}),
    [](const auto& row) { return std::string(row.param.what); });

TEST_F(SessionTest, ChangeNoticeReachesEveryGreetedPcBeforeTheResult) {
  auto a = Greeted("PC-A", kPeerA);
  auto b = Greeted("PC-B", kPeerB);
  Session stranger(hub, kPeerB, "stranger");  // no Hello yet: no notices

  a->Receive(Command(MsgType::Link, 40, 1));
  const auto fa = Drain(*a);
  ASSERT_EQ(fa.size(), 2u);
  EXPECT_EQ(fa[0].type, MsgType::DevicesChanged);
  EXPECT_EQ(fa[0].id, 0u);
  EXPECT_EQ(wire::DecodeDeviceList(fa[0].payload).value().at(0).owner, "PC-A");
  EXPECT_EQ(fa[1].id, 40u);
  EXPECT_EQ(ResultOf(fa[1]), kStatusOk);
  const auto fb = Drain(*b);
  ASSERT_EQ(fb.size(), 1u);
  EXPECT_EQ(fb[0].payload, fa[0].payload);
  EXPECT_TRUE(stranger.output().empty());

  a->Receive(Command(MsgType::Lock, 41, 1, 2, 30));
  Drain(*a);
  Drain(*b);
  b->Receive(Command(MsgType::Link, 42, 1));  // refused: no change, so no notice
  const auto refused = Drain(*b);
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(ResultOf(refused[0]), kStatusRefused);
  EXPECT_TRUE(a->output().empty());
}

TEST_F(SessionTest, LockThatRanOutEndsBeforeTheNextCommandIsJudged) {
  auto a = Greeted("PC-A", kPeerA);
  auto b = Greeted("PC-B", kPeerB);
  a->Receive(Command(MsgType::Link, 1, 1));
  a->Receive(Command(MsgType::Lock, 2, 1, 2, 5));
  Drain(*a);
  Drain(*b);
  clock.Advance(5s);  // the server's timer has not fired yet
  b->Receive(Command(MsgType::Link, 3, 1));
  const auto fb = Drain(*b);
  ASSERT_EQ(fb.size(), 3u);
  const auto afterExpiry = wire::DecodeDeviceList(fb[0].payload).value().at(0);
  EXPECT_EQ(afterExpiry.owner, "PC-A");
  EXPECT_EQ(afterExpiry.lockCount, 0);
  EXPECT_EQ(wire::DecodeDeviceList(fb[1].payload).value().at(0).owner, "PC-B");
  EXPECT_EQ(ResultOf(fb[2]), kStatusOk);
}

TEST_F(SessionTest, UseRequestReachesEveryConnectionOfTheOwner) {
  auto a1 = Greeted("PC-A", kPeerA);
  auto a2 = Greeted("PC-A", kPeerA);  // the same PC twice (a reconnecting busd)
  auto b = Greeted("PC-B", kPeerB);
  a1->Receive(Command(MsgType::Link, 1, 2));
  Drain(*a1);
  Drain(*a2);
  Drain(*b);

  b->Receive(Command(MsgType::RequestToUse, 7, 2, 1, 0));  // 0: use the TCP peer address
  b->Receive(Command(MsgType::RequestToUse, 8, 2, 1, 0x0A01A8C0));
  for (Session* owner : {a1.get(), a2.get()}) {
    const auto f = Drain(*owner);
    ASSERT_EQ(f.size(), 2u);
    const auto first = wire::DecodeUseRequested(f[0].payload).value();
    EXPECT_EQ(f[0].type, MsgType::UseRequested);
    EXPECT_EQ(first.subCode, 1);
    EXPECT_EQ(first.deviceNumber, 2);
    EXPECT_EQ(first.requesterIp, kPeerB);
    EXPECT_EQ(first.requesterName, "PC-B");
    EXPECT_EQ(wire::DecodeUseRequested(f[1].payload).value().requesterIp, 0x0A01A8C0u);
  }
  const auto fb = Drain(*b);
  ASSERT_EQ(fb.size(), 2u);
  EXPECT_EQ(ResultOf(fb[0]), kStatusOk);
  EXPECT_EQ(fb[1].id, 8u);

  b->Receive(Command(MsgType::RequestToUse, 9, 1, 1, 0));  // device 1 is free: nobody to ask
  b->Receive(Command(MsgType::RequestToUse, 10, 77, 1, 0));
  const auto rest = Drain(*b);
  ASSERT_EQ(rest.size(), 2u);
  EXPECT_EQ(ResultOf(rest[0]), kStatusOk);
  EXPECT_EQ(ResultOf(rest[1]), kStatusNotFound);
  EXPECT_TRUE(a1->output().empty());
}

struct Reply {
  const char* what;
  std::vector<uint8_t> request;
  MsgType type;
  uint32_t result;  // when type is Result
};
void PrintTo(const Reply& row, std::ostream* os) { *os << row.what; }

class SessionReplies : public SessionTest, public ::testing::WithParamInterface<Reply> {};

TEST_P(SessionReplies, AnswerWithTheRequestId) {
  auto a = Greeted("PC-A", kPeerA);
  a->Receive(GetParam().request);
  const auto f = Drain(*a);
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0].type, GetParam().type);
  EXPECT_EQ(f[0].id, 77u);
  if (GetParam().type == MsgType::Result) {
    EXPECT_EQ(ResultOf(f[0]), GetParam().result);
  }
  EXPECT_EQ(a->state(), Session::State::Open);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SessionReplies,
    ::testing::Values(
        Reply{"Ping", Bytes(MsgType::Ping, 77), MsgType::Pong, 0},
        Reply{"GetDevices", Bytes(MsgType::GetDevices, 77), MsgType::DeviceList, 0},
        Reply{"UnknownType", Bytes(static_cast<MsgType>(0x7777), 77), MsgType::Result,
              kStatusInvalidFunction},
        Reply{"EjectOfADeviceNotOwned", Command(MsgType::Eject, 77, 1), MsgType::Result,
              kStatusRefused},
        Reply{"EjectOfNoSuchDevice", Command(MsgType::Eject, 77, 99), MsgType::Result,
              kStatusNotFound},
        Reply{"EjectWithTwoBytes", Bytes(MsgType::Eject, 77, {1, 0}), MsgType::Result,
              kStatusBadPayload},
        Reply{"WriteDataToADeviceWithoutAPrintSink", Bytes(MsgType::WriteData, 77, {1, 9, 9}),
              MsgType::Result, kStatusNotSupported},
        Reply{"EmptyWriteData", Bytes(MsgType::WriteData, 77), MsgType::Result, kStatusBadPayload},
        Reply{"SecondHello",
              Bytes(MsgType::Hello, 77, wire::EncodeHello({wire::kVersionMajor, 0, "PC-Z"})),
              MsgType::Result, kStatusInvalidFunction},
        Reply{"ProofAfterGreeting", Bytes(MsgType::Proof, 77, std::vector<uint8_t>(96)),
              MsgType::Result, kStatusInvalidFunction},
        Reply{"PingWithPayload", Bytes(MsgType::Ping, 77, {1}), MsgType::Result, kStatusBadPayload},
        Reply{"LinkWithTwoBytes", Bytes(MsgType::Link, 77, {1, 0}), MsgType::Result,
              kStatusBadPayload},
        Reply{"LockCutShort", Bytes(MsgType::Lock, 77, {1, 2, 3}), MsgType::Result,
              kStatusBadPayload},
        Reply{"UnlockEmpty", Bytes(MsgType::Unlock, 77), MsgType::Result, kStatusBadPayload}),
    [](const auto& row) { return std::string(row.param.what); });

TEST_F(SessionTest, MalformedFrameDropsOnlyThatSession) {
  auto a = Greeted("PC-A", kPeerA);
  auto b = Greeted("PC-B", kPeerB);
  auto bad = Bytes(MsgType::Ping, 5);
  bad[6] = 1;  // flags must be 0
  a->Receive(bad);
  EXPECT_EQ(a->state(), Session::State::Drop);
  a->Receive(Bytes(MsgType::Ping, 6));  // nothing more is handled
  EXPECT_TRUE(a->output().empty());
  b->Receive(Bytes(MsgType::Ping, 7));
  EXPECT_EQ(Drain(*b).at(0).type, MsgType::Pong);
}

TEST_F(SessionTest, FramesSplitAnywhereAreHandledWhole) {
  auto a = Greeted("PC-A", kPeerA);
  auto bytes = Bytes(MsgType::Ping, 1);
  const auto link = Command(MsgType::Link, 2, 1);
  bytes.insert(bytes.end(), link.begin(), link.end());
  for (uint8_t byte : bytes) a->Receive({&byte, 1});
  const auto f = Drain(*a);
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(f[0].type, MsgType::Pong);
  EXPECT_EQ(f[1].type, MsgType::DevicesChanged);
  EXPECT_EQ(ResultOf(f[2]), kStatusOk);
}

TEST_F(SessionTest, PeerThatNeverReadsIsDroppedNotBuffered) {
  auto sleeper = Greeted("PC-B", kPeerB);
  std::vector<uint8_t> pings;
  for (size_t i = 0; i < Session::kFramesPerTurn; ++i) {
    const auto ping = Bytes(MsgType::Ping, 1);
    pings.insert(pings.end(), ping.begin(), ping.end());
  }
  // Its own replies pile up: the server stops reading it, and gives it time to catch up.
  for (int i = 0; i < 100000 && sleeper->output().size() <= Session::kMaxQueuedBytes; ++i)
    sleeper->Receive(pings);
  EXPECT_FALSE(sleeper->wantsInput());
  sleeper->CheckTimers();
  EXPECT_EQ(sleeper->state(), Session::State::Open);
  clock.Advance(hub.limits().drainTimeout);
  sleeper->CheckTimers();
  EXPECT_EQ(sleeper->state(), Session::State::Drop);
  EXPECT_TRUE(sleeper->output().empty());
}

TEST_F(SessionTest, LinkBurstReachesASlowPcAsTheLatestList) {
  HubConfig many = TwoDevices();
  for (uint8_t n = 3; n <= 24; ++n) {
    DeviceConfig d;
    d.number = n;
    d.vendorId = n;
    d.productId = n;
    d.product = "Device with a name long enough to make each list a few KB";
    many.devices.push_back(d);
  }
  hub.Reload(many);
  auto busy = Greeted("PC-A", kPeerA);
  auto slow = Greeted("PC-B", kPeerB);
  std::vector<uint8_t> burst;
  uint32_t id = 2;
  for (int round = 0; round <= 200; ++round) {
    for (MsgType type : {MsgType::Link, MsgType::Unlink}) {
      if (round == 200 && type == MsgType::Unlink) break;  // it ends owning every device
      for (uint8_t n = 1; n <= 24; ++n) {
        const auto c = Command(type, id++, n);
        burst.insert(burst.end(), c.begin(), c.end());
      }
    }
  }
  // As the server reads it: 64 KiB at a time, each read handled a turn's worth at a time.
  for (size_t at = 0; at < burst.size(); at += 65536) {
    busy->Receive(std::span(burst).subspan(at, std::min<size_t>(65536, burst.size() - at)));
    while (busy->backlog()) busy->Resume();
    Drain(*busy);
  }
  ASSERT_EQ(slow->state(), Session::State::Open);
  EXPECT_LE(slow->output().size(),
            Session::kMergeAfterBytes + wire::kHeaderSize + wire::kMaxPayload);
  const auto frames = Drain(*slow);
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.back().type, MsgType::DevicesChanged);
  const auto list = wire::DecodeDeviceList(frames.back().payload).value();
  ASSERT_EQ(list.size(), 24u);
  for (const auto& d : list) EXPECT_EQ(d.owner, "PC-A") << int(d.number);
  EXPECT_EQ(busy->state(), Session::State::Open);
}

// Time-outs of one connection, with time passing in 1 s steps.
TEST_F(SessionTest, HelloDeadlineAndIdleTimeOut) {
  const Limits l;
  struct Case {
    const char* what;
    bool hello;
    std::chrono::seconds pingEvery;  // 0: sends nothing
    std::chrono::seconds wait;
    bool open;
  } cases[] = {
      {"no Hello, just inside the deadline", false, 0s, l.helloTimeout - 1s, true},
      {"no Hello by the deadline", false, 0s, l.helloTimeout, false},
      {"a PC that pings as busd does", true, 3s, 10 * l.idleTimeout, true},
      {"a silent PC, just inside the idle time-out", true, 0s, l.idleTimeout - 1s, true},
      {"a silent PC", true, 0s, l.idleTimeout, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto s = c.hello ? Greeted("PC-A", kPeerA) : std::make_unique<Session>(hub, kPeerA, "peer");
    for (auto t = 1s; t <= c.wait; t += 1s) {
      clock.Advance(1s);
      if (c.pingEvery.count() != 0 && t % c.pingEvery == 0s) s->Receive(Bytes(MsgType::Ping, 9));
      s->CheckTimers();
      Drain(*s);
    }
    EXPECT_EQ(s->state() == Session::State::Open, c.open);
  }
}

TEST_F(SessionTest, ReloadAnnouncesOnlyWhenTheListChanged) {
  auto a = Greeted("PC-A", kPeerA);
  a->Receive(Command(MsgType::Link, 1, 1));
  Drain(*a);
  HubConfig next = TwoDevices();
  hub.Reload(next);
  EXPECT_TRUE(a->output().empty());
  DeviceConfig added;
  added.number = 5;
  added.type = "SCANNER";
  next.devices.push_back(added);
  next.server.name = "SRV2";
  hub.Reload(next);
  const auto f = Drain(*a);
  ASSERT_EQ(f.size(), 1u);
  const auto list = wire::DecodeDeviceList(f[0].payload).value();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].owner, "PC-A");
  EXPECT_EQ(list[2].type, "SCANNER");
  EXPECT_EQ(hub.Info().name, "SRV2");
}

}  // namespace
