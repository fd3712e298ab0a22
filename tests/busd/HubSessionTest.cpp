// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "base/ByteOrder.h"
#include "busd/BusBackend.h"
#include "busd/HubSession.h"

using namespace tessaro;
using namespace tessaro::busd;
using wire::MsgType;

namespace {

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
  void HelloReply(uint16_t major) {
    wire::ServerInfo info;
    info.major = major;
    info.name = "HUB";
    Receive(MsgType::HelloReply, 1, wire::EncodeServerInfo(info));
  }

  Recorder listener;
  Clock::time_point start = Clock::now();
  HubSession session{listener, "PC-A", start};
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
  HelloReply(wire::kVersionMajor);
  EXPECT_TRUE(session.ready());
}

TEST_F(HubSessionFixture, ResultsReachTheCommandWithTheirIdAndLeftoversFailOnClose) {
  Sent();
  std::vector<std::pair<int, uint32_t>> results;
  auto record = [&results](int which) {
    return [&results, which](uint32_t r) { results.emplace_back(which, r); };
  };
  {
    Recorder l;
    HubSession s(l, "PC-A", start);
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
    HubSession s(l, "PC-A", start);
    s.Feed(wire::EncodeFrame({c.type, 0, 1, c.payload}), start);
    EXPECT_TRUE(s.broken());
    EXPECT_TRUE(l.lists.empty());
    EXPECT_TRUE(l.uses.empty());
    EXPECT_FALSE(l.info);
  }
  Recorder l;
  HubSession s(l, "PC-A", start);
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
