// SPDX-License-Identifier: GPL-2.0-or-later
// The real tessaro-hubd answering ejects over TCP: the veto from its config, one set at run time
// by an administration connection, and bad eject frames that end only their own connection.
#include <gtest/gtest.h>
#include <signal.h>

#include "base/ByteOrder.h"
#include "protocol/HubWire.h"
#include "tests/TestPaths.h"
#include "tests/support/Process.h"
#include "tests/support/WireClient.h"

using namespace tessaro;
using namespace tessaro::testing;
using wire::Frame;
using wire::MsgType;

namespace {

const std::string kBinary = std::string(kBinaryDir) + "/hubd/tessaro-hubd";

const std::string kConfig =
    "[server]\n"
    "address = 127.0.0.2\n"
    "[device 1]\n"
    "type = MASS STORAGE\n"
    "vendor-id = 2e10\n"
    "product-id = 5567\n"
    "[device 2]\n"
    "type = MASS STORAGE\n"
    "vendor-id = 2e10\n"
    "product-id = 5568\n"
    "eject-veto = 5\n"
    "eject-veto-name = Volume in use by Backup\n";

std::vector<uint8_t> Number(MsgType type, uint8_t n) {
  return wire::EncodeDeviceCommand(type, {n, 0, 0});
}

class HubdEject : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteTextFile(config, kConfig);
    hubd = std::make_unique<Process>(kBinary, std::vector<std::string>{"--config", config});
    ASSERT_TRUE(hubd->Start());
    ASSERT_TRUE(hubd->WaitForOutput("hubd: ready")) << hubd->Output();
  }

  // A PC that has linked both devices.
  std::unique_ptr<WireClient> Owner(const std::string& name) {
    auto pc = std::make_unique<WireClient>("127.0.0.2", 2005, "127.0.0.5");
    EXPECT_TRUE(pc->Hello(name));
    for (uint8_t n : {uint8_t{1}, uint8_t{2}})
      pc->Call(MsgType::Link, 10u + n, Number(MsgType::Link, n));
    return pc;
  }

  // The EjectReply `pc` gets for device `n`; a Result instead fails the test.
  static wire::EjectReply Eject(WireClient& pc, uint8_t n) {
    const auto frames = pc.Call(MsgType::Eject, 30 + n, Number(MsgType::Eject, n));
    EXPECT_FALSE(frames.empty());
    if (frames.empty() || frames.back().type != MsgType::EjectReply) return {0xDEAD, "none"};
    return wire::DecodeEjectReply(frames.back().payload).value_or(wire::EjectReply{0xBAD, ""});
  }

  TempDir dir;
  const std::string config = dir / "hub.ini";
  std::unique_ptr<Process> hubd;
};

TEST_F(HubdEject, ConfigVetoAndRunTimeVeto) {
  auto pc = Owner("PC-A");
  EXPECT_EQ(Eject(*pc, 1).vetoType, 0u);
  const wire::EjectReply busy = Eject(*pc, 2);
  EXPECT_EQ(busy.vetoType, 5u);
  EXPECT_EQ(busy.vetoName, "Volume in use by Backup");

  WireClient admin("127.0.0.2", 2005, "127.0.0.1");
  const auto set =
      admin.Call(MsgType::SetEjectVeto, 9, wire::EncodeSetEjectVeto({1, 6, "Open files on E:"}));
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(wire::DecodeResult(set[0].payload), 0u);
  const wire::EjectReply vetoed = Eject(*pc, 1);
  EXPECT_EQ(vetoed.vetoType, 6u);
  EXPECT_EQ(vetoed.vetoName, "Open files on E:");
  EXPECT_TRUE(hubd->WaitForOutput("sets the eject veto of device 1 to 6 Open files on E:"));

  hubd->Signal(SIGHUP);  // a reload brings back the file's veto
  ASSERT_TRUE(hubd->WaitForOutput("config reloaded"));
  EXPECT_EQ(Eject(*pc, 1).vetoType, 0u);
}

TEST_F(HubdEject, BadEjectFramesEndOnlyTheirConnection) {
  auto a = Owner("PC-A");
  auto b = std::make_unique<WireClient>("127.0.0.2", 2005, "127.0.0.6");
  ASSERT_TRUE(b->Hello("PC-B"));

  // An eject whose header claims more than a frame may carry.
  auto oversized = wire::EncodeFrame({MsgType::Eject, 0, 7, {1}});
  PutU32(&oversized[12], wire::kMaxPayload + 1);
  ASSERT_TRUE(b->SendBytes(oversized));
  EXPECT_TRUE(b->WaitClosed());

  auto c = std::make_unique<WireClient>("127.0.0.2", 2005, "127.0.0.7");
  ASSERT_TRUE(c->Hello("PC-C"));
  auto flagged = wire::EncodeFrame({MsgType::Eject, 0, 7, {1}});
  flagged[6] = 1;
  ASSERT_TRUE(c->SendBytes(flagged));
  EXPECT_TRUE(c->WaitClosed());

  // A well-framed eject with a bad payload is answered, and the connection stays.
  const auto bad = a->Call(MsgType::Eject, 40, {1, 2, 3});
  ASSERT_EQ(bad.size(), 1u);
  EXPECT_EQ(wire::DecodeResult(bad[0].payload), 87u);
  EXPECT_EQ(Eject(*a, 1).vetoType, 0u) << "the owner's connection was not touched";
  EXPECT_TRUE(hubd->Running());
}

}  // namespace
