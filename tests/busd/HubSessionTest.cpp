// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "base/ByteOrder.h"
#include "busd/BusBackend.h"
#include "busd/HubSession.h"
#include "protocol/PcKey.h"

using namespace tessaro;
using namespace tessaro::busd;
using wire::MsgType;

namespace {

constexpr uint32_t kServerIp = 0x0200007F;  // 127.0.0.2 as the wire carries it
constexpr uint16_t kServerPort = 2005;
constexpr wire::Nonce kNonce{9, 8, 7, 6, 5, 4, 3, 2, 1};

const wire::PcKey& Key() {
  static const wire::PcKey key = wire::PcKey::FromSeed(wire::KeySeed{1, 2, 3});
  return key;
}

class Recorder : public HubListener {
 public:
  void OnServerInfo(const wire::ServerInfo& i, bool c) override {
    info = i;
    compatible = c;
  }
  void OnDevices(std::vector<wire::DeviceInfo> d, uint32_t replyTo) override {
    lists.emplace_back(std::move(d), replyTo);
  }
  void OnUseRequested(const wire::UseRequested& u) override { uses.push_back(u); }

  std::optional<wire::ServerInfo> info;
  bool compatible = false;
  std::vector<std::pair<std::vector<wire::DeviceInfo>, uint32_t>> lists;
  std::vector<wire::UseRequested> uses;
};

class HubSessionFixture : public ::testing::Test {
 protected:
  std::vector<wire::Frame> Sent() {
    wire::FrameDecoder d;
    d.Feed(session.output());
    session.output().clear();
    std::vector<wire::Frame> frames;
    while (auto f = d.Next()) frames.push_back(*f);
    return frames;
  }
  void Receive(MsgType type, uint32_t id, std::vector<uint8_t> payload) {
    session.Feed(wire::EncodeFrame({type, 0, id, std::move(payload)}), start);
  }
  // A server of our version challenges first and answers the Proof; another one answers the
  // Hello with its version at once.
  void HelloReply(uint16_t major) {
    if (major == wire::kVersionMajor)
      Receive(MsgType::Challenge, 1, wire::EncodeChallenge({major, 0, kNonce}));
    wire::ServerInfo info;
    info.major = major;
    info.name = "HUB";
    Receive(MsgType::HelloReply, 2, wire::EncodeServerInfo(info));
  }

  Recorder listener;
  Clock::time_point start = Clock::now();
  HubSession session{listener, "PC-A", Key(), kServerIp, kServerPort, start};
};

}  // namespace

TEST_F(HubSessionFixture, SaysHelloWithTheComputerName) {
  const auto frames = Sent();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].type, MsgType::Hello);
  EXPECT_EQ(wire::DecodeHello(frames[0].payload)->computerName, "PC-A");
}

TEST_F(HubSessionFixture, OtherMajorVersionIsIncompatible) {
  HelloReply(wire::kVersionMajor + 1);
  ASSERT_TRUE(listener.info);
  EXPECT_FALSE(listener.compatible);
  EXPECT_TRUE(session.incompatible());
  EXPECT_FALSE(session.ready());
  HelloReply(wire::kVersionMajor);  // nothing the server says later undoes the refusal
  EXPECT_FALSE(session.ready());
}

TEST_F(HubSessionFixture, AnswersTheChallengeWithAProofOfThisServerAndName) {
  Sent();
  Receive(MsgType::Challenge, 1, wire::EncodeChallenge({wire::kVersionMajor, 0, kNonce}));
  const auto frames = Sent();
  ASSERT_EQ(frames.size(), 1u);
  ASSERT_EQ(frames[0].type, MsgType::Proof);
  const auto proof = wire::DecodeProof(frames[0].payload);
  ASSERT_TRUE(proof);
  EXPECT_EQ(proof->publicKey, Key().publicKey());
  EXPECT_TRUE(wire::VerifyProof(*proof, {kNonce, kServerIp, kServerPort, "PC-A"}));
  // A relay cannot pass it on: it holds for this server, this name and this nonce only.
  EXPECT_FALSE(wire::VerifyProof(*proof, {kNonce, kServerIp + 1, kServerPort, "PC-A"}));
  EXPECT_FALSE(wire::VerifyProof(*proof, {kNonce, kServerIp, kServerPort + 1, "PC-A"}));
  EXPECT_FALSE(wire::VerifyProof(*proof, {kNonce, kServerIp, kServerPort, "PC-B"}));
  EXPECT_FALSE(wire::VerifyProof(*proof, {wire::Nonce{}, kServerIp, kServerPort, "PC-A"}));
  EXPECT_FALSE(session.ready());
  wire::ServerInfo info;
  Receive(MsgType::HelloReply, frames[0].id, wire::EncodeServerInfo(info));
  EXPECT_TRUE(session.ready());
  EXPECT_TRUE(listener.compatible);
}

TEST_F(HubSessionFixture, HelloFailuresBreakTheSessionWithTheirReason) {
  struct Case {
    const char* what;
    std::vector<std::pair<MsgType, std::vector<uint8_t>>> frames;  // after the Hello
    const char* error;
  } cases[] = {
      {"key refused",
       {{MsgType::Challenge, wire::EncodeChallenge({wire::kVersionMajor, 0, kNonce})},
        {MsgType::Result, wire::EncodeResult(5)}},
       "the server refuses this PC's key for the name PC-A (its administrator re-pins a "
       "replaced PC)"},
      {"HelloReply of our version without a Challenge",
       {{MsgType::HelloReply, wire::EncodeServerInfo({})}},
       "a HelloReply without a Challenge"},
      {"second Challenge",
       {{MsgType::Challenge, wire::EncodeChallenge({wire::kVersionMajor, 0, kNonce})},
        {MsgType::Challenge, wire::EncodeChallenge({wire::kVersionMajor, 0, kNonce})}},
       "a Challenge out of turn"},
      {"short Challenge", {{MsgType::Challenge, {2, 0, 0, 0, 1}}}, "malformed Challenge"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Recorder l;
    HubSession s(l, "PC-A", Key(), kServerIp, kServerPort, start);
    // The Proof, if one goes out, is request 2: the one a Result refuses.
    for (const auto& [type, payload] : c.frames)
      s.Feed(wire::EncodeFrame({type, 0, type == MsgType::Result ? 2u : 1u, payload}), start);
    EXPECT_TRUE(s.broken());
    EXPECT_EQ(s.error(), c.error);
    EXPECT_FALSE(s.ready());
    EXPECT_FALSE(l.info);
  }
}

TEST_F(HubSessionFixture, ResultsReachTheCommandWithTheirIdAndLeftoversFailOnClose) {
  Sent();
  std::vector<std::pair<int, uint32_t>> results;
  auto record = [&results](int which) {
    return [&results, which](uint32_t r) { results.emplace_back(which, r); };
  };
  {
    Recorder l;
    HubSession s(l, "PC-A", Key(), kServerIp, kServerPort, start);
    s.Command(MsgType::Link, {1, 0, 0}, record(1));
    s.Command(MsgType::Unlink, {2, 0, 0}, record(2));
    s.Command(MsgType::Lock, {3, 2, 60}, record(3));
    wire::FrameDecoder d;
    d.Feed(s.output());
    std::vector<uint32_t> ids;
    while (auto f = d.Next())
      if (f->type != MsgType::Hello) ids.push_back(f->id);
    ASSERT_EQ(ids.size(), 3u);
    s.Feed(wire::EncodeFrame({MsgType::Result, 0, ids[1], wire::EncodeResult(1168)}), start);
    s.Feed(wire::EncodeFrame({MsgType::Result, 0, 999, wire::EncodeResult(0)}), start);  // stray
    s.Feed(wire::EncodeFrame({MsgType::Result, 0, ids[0], wire::EncodeResult(0)}), start);
    EXPECT_FALSE(s.broken());
  }
  EXPECT_EQ(results, (std::vector<std::pair<int, uint32_t>>{{2, 1168}, {1, 0}, {3, 31}}));
}

TEST_F(HubSessionFixture, DeviceListsTellReplyFromPush) {
  HelloReply(wire::kVersionMajor);
  const uint32_t id = session.RequestDevices();
  wire::DeviceInfo d;
  d.number = 9;
  Receive(MsgType::DeviceList, id, wire::EncodeDeviceList({d}));
  Receive(MsgType::DevicesChanged, 0, wire::EncodeDeviceList({}));
  ASSERT_EQ(listener.lists.size(), 2u);
  EXPECT_EQ(listener.lists[0].second, id);
  EXPECT_EQ(listener.lists[0].first.at(0).number, 9);
  EXPECT_EQ(listener.lists[1].second, 0u);
}

TEST_F(HubSessionFixture, MalformedPayloadsBreakTheSession) {
  struct Case {
    const char* what;
    MsgType type;
    std::vector<uint8_t> payload;
  } cases[] = {
      {"short HelloReply", MsgType::HelloReply, {1, 0}},
      {"device list with a count over its bytes", MsgType::DevicesChanged, {5, 0}},
      {"Result of 3 bytes", MsgType::Result, {0, 0, 0}},
      {"UseRequested with a long name length", MsgType::UseRequested, {1, 2, 0, 0, 0, 0, 9, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Recorder l;
    HubSession s(l, "PC-A", Key(), kServerIp, kServerPort, start);
    s.Feed(wire::EncodeFrame({c.type, 0, 1, c.payload}), start);
    EXPECT_TRUE(s.broken());
    EXPECT_TRUE(l.lists.empty());
    EXPECT_TRUE(l.uses.empty());
    EXPECT_FALSE(l.info);
  }
  Recorder l;
  HubSession s(l, "PC-A", Key(), kServerIp, kServerPort, start);
  auto bad = wire::EncodeFrame({MsgType::Pong, 0, 1, {}});
  PutU32(&bad[0], 0x11111111);
  s.Feed(bad, start);
  EXPECT_TRUE(s.broken());
}

TEST_F(HubSessionFixture, PingsWhenDueAndGivesUpAfterTenSilentSeconds) {
  Sent();
  EXPECT_TRUE(session.Tick(start + std::chrono::seconds(1)));
  EXPECT_TRUE(Sent().empty());
  EXPECT_TRUE(session.Tick(start + std::chrono::seconds(4)));
  const auto pings = Sent();
  ASSERT_EQ(pings.size(), 1u);
  EXPECT_EQ(pings[0].type, MsgType::Ping);
  session.Feed(wire::EncodeFrame({MsgType::Pong, 0, pings[0].id, {}}),
               start + std::chrono::seconds(5));
  EXPECT_TRUE(session.Tick(start + std::chrono::seconds(14)));
  EXPECT_FALSE(session.Tick(start + std::chrono::seconds(16)));
  EXPECT_TRUE(session.broken());
}

TEST_F(HubSessionFixture, UnansweredCommandsFailAfterTheirTimeOutAndLateResultsAreIgnored) {
  HelloReply(wire::kVersionMajor);
  Sent();
  std::vector<uint32_t> results;
  std::vector<uint32_t> ejects;
  session.Command(MsgType::Link, {1, 0, 0}, [&](uint32_t r) { results.push_back(r); });
  session.Eject(2, [&](uint32_t s, const wire::EjectReply&) { ejects.push_back(s); });
  const auto sent = Sent();
  ASSERT_EQ(sent.size(), 2u);
  // The server keeps answering pings, so only the commands' own time-out ends them.
  const auto half = HubSession::kCommandTimeout / 2;
  session.Feed(wire::EncodeFrame({MsgType::Pong, 0, 77, {}}), start + half);
  EXPECT_TRUE(session.Tick(start + half));
  EXPECT_TRUE(results.empty());
  EXPECT_TRUE(ejects.empty());
  session.Feed(wire::EncodeFrame({MsgType::Pong, 0, 78, {}}), start + HubSession::kCommandTimeout);
  EXPECT_TRUE(session.Tick(start + HubSession::kCommandTimeout));
  EXPECT_EQ(results, std::vector<uint32_t>{31});
  EXPECT_EQ(ejects, std::vector<uint32_t>{31});
  session.Feed(wire::EncodeFrame({MsgType::Result, 0, sent[0].id, wire::EncodeResult(0)}),
               start + HubSession::kCommandTimeout);
  session.Feed(wire::EncodeFrame({MsgType::EjectReply, 0, sent[1].id, wire::EncodeEjectReply({})}),
               start + HubSession::kCommandTimeout);
  EXPECT_FALSE(session.broken());
  EXPECT_EQ(results.size(), 1u);
  EXPECT_EQ(ejects.size(), 1u);
}
