// SPDX-License-Identifier: GPL-2.0-or-later
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "base/ByteOrder.h"
#include "busd/BusSession.h"
#include "busd/ReplyBuilder.h"
#include "tests/busd/FakeBackend.h"

using namespace tessaro;
using namespace tessaro::busd;
using busipc::Op;
using busipc::Reply;
using busipc::Request;
namespace code = busipc::code;

namespace {

const uint32_t kServerIp = ::inet_addr("127.0.0.2");

// Sessions over a fake backend; replies routed later go to their session as in busd.
class DispatchFixture : public ::testing::Test, public ReplyRouter {
 protected:
  DispatchFixture() {
    ServerEntry s;
    s.ip = kServerIp;
    s.state = ServerState::Answering;
    s.name = "HUB";
    backend.servers = {s};
  }

  BusSession& Open(bool trunk, pid_t pid) {
    const ConnectionInfo info{nextId++, trunk, pid, trunk ? 0 : kServerIp};
    dispatcher.Opened(info);
    auto& s = sessions[info.id] = std::make_unique<BusSession>(info, dispatcher);
    return *s;
  }

  void Complete(int connection, const Reply& reply) override {
    sessions.at(connection)->Complete(reply);
  }

  // Sends one request and returns the replies that came out of the session.
  static std::vector<Reply> Send(BusSession& s, const Request& r) {
    s.Feed(busipc::EncodeRequest(r));
    return Take(s);
  }
  static std::vector<Reply> Take(BusSession& s) {
    busipc::ReplyDecoder d;
    d.Feed(s.output());
    s.output().clear();
    std::vector<Reply> replies;
    while (auto r = d.Next()) replies.push_back(*r);
    EXPECT_FALSE(d.broken());
    return replies;
  }
  static Request Control(uint32_t c, std::vector<uint8_t> input, uint32_t out = 64) {
    return Request{Op::Control, c, out, std::move(input)};
  }
  static Request EventRead() { return Request{Op::EventRead, 0, 2048, {}}; }

  fakes::FakeBackend backend;
  RequestDispatcher dispatcher{backend, *this};
  std::map<int, std::unique_ptr<BusSession>> sessions;
  int nextId = 1;
};

}  // namespace

TEST_F(DispatchFixture, StatusCodesForSizesHandlesAndUnknownCodes) {
  struct Case {
    const char* what;
    bool trunk;
    uint32_t code;
    size_t inputSize;
    uint32_t status;
  } cases[] = {
      {"attach with 3 bytes", true, code::kAttachServer, 3, status::kInvalidParameter},
      {"attach with 5 bytes", true, code::kAttachServer, 5, status::kInvalidParameter},
      {"link with 0 bytes", false, code::kLinkDevice, 0, status::kInvalidParameter},
      {"link with 2 bytes", false, code::kLinkDevice, 2, status::kInvalidParameter},
      {"lock with 5 bytes", false, code::kLockDevice, 5, status::kInvalidParameter},
      {"request to use with 7 bytes", false, code::kRequestToUse, 7, status::kInvalidParameter},
      {"device node present without a NUL", true, code::kDeviceNodePresent, 10,
       status::kInvalidParameter},
      {"request eject without a NUL", true, code::kRequestEject, 10, status::kInvalidParameter},
      {"device node present on a Spur", false, code::kDeviceNodePresent, 10,
       status::kInvalidFunction},
      {"device data for a device not linked here", false, code::kWriteDeviceData, 10,
       status::kNotReady},
      {"end of data for a device not linked here", false, code::kEndDeviceData, 1,
       status::kNotReady},
      {"device data on the Trunk", true, code::kWriteDeviceData, 10, status::kInvalidFunction},
      {"unknown code", true, 0x222004, 0, status::kInvalidFunction},
      {"Spur code on the Trunk", true, code::kGetDeviceList, 0, status::kInvalidFunction},
      {"Trunk code on a Spur", false, code::kGetServerList, 0, status::kInvalidFunction},
      {"attach of an unknown server", true, code::kAttachServer, 4, status::kGenFailure},
  };
  BusSession& trunk = Open(true, 10);
  BusSession& spur = Open(false, 10);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto replies =
        Send(c.trunk ? trunk : spur, Control(c.code, std::vector<uint8_t>(c.inputSize, 9)));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].status, c.status);
    EXPECT_TRUE(replies[0].output.empty());
  }
  EXPECT_TRUE(backend.forwarded.empty());
}

TEST_F(DispatchFixture, AttachTakesTheAddressInNetworkOrder) {
  BusSession& trunk = Open(true, 10);
  const auto replies = Send(trunk, Control(code::kAttachServer, {127, 0, 0, 2}));
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].status, 0u);
  EXPECT_EQ(backend.attached, std::vector<uint32_t>{kServerIp});
}

TEST_F(DispatchFixture, SpurAnswersFromItsServersCache) {
  wire::DeviceInfo d;
  d.number = 3;
  d.product = "P";
  backend.devices[kServerIp] = {d};
  BusSession& spur = Open(false, 10);
  auto replies = Send(spur, Control(code::kGetDeviceList, std::vector<uint8_t>(2048), 2048));
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].output, BuildDeviceList({d}));
  replies = Send(spur, Control(code::kGetSpurAddress, {}));
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].output, BuildSpurAddress(kServerIp));
}

TEST_F(DispatchFixture, ForwardedCommandsCarryTheirFieldsAndAnswerWithTheServersResult) {
  struct Case {
    uint32_t code;
    std::vector<uint8_t> input;
    wire::MsgType type;
    wire::DeviceCommand expect;
    uint32_t serverResult;
    uint32_t status;
  } cases[] = {
      {code::kLinkDevice, {4}, wire::MsgType::Link, {4, 0, 0}, 0, 0},
      {code::kUnlinkDevice, {4}, wire::MsgType::Unlink, {4, 0, 0}, 31, 31},
      {code::kLockDevice, {4, 0x10, 0x0E, 0, 0, 2}, wire::MsgType::Lock, {4, 2, 3600}, 0, 0},
      {code::kUnlockDevice, {4, 5, 0, 0, 0, 1}, wire::MsgType::Unlock, {4, 1, 5}, 1168, 1168},
      {code::kRequestToUse,
       {4, 1, 127, 0, 0, 9},
       wire::MsgType::RequestToUse,
       {4, 1, ::inet_addr("127.0.0.9")},
       0,
       0},
  };
  BusSession& spur = Open(false, 10);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    backend.forwarded.clear();
    EXPECT_TRUE(
        Send(spur, Control(c.code, c.input, static_cast<uint32_t>(c.input.size()))).empty());
    ASSERT_EQ(backend.forwarded.size(), 1u);
    const auto& f = backend.forwarded[0];
    EXPECT_EQ(f.ip, kServerIp);
    EXPECT_EQ(f.type, c.type);
    EXPECT_EQ(f.command.number, c.expect.number);
    EXPECT_EQ(f.command.kind, c.expect.kind);
    EXPECT_EQ(f.command.value, c.expect.value);
    f.done(c.serverResult);
    const auto replies = Take(spur);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].status, c.status);
  }
}

TEST_F(DispatchFixture, UnreachableServerFailsAtOnce) {
  backend.reachable = false;
  BusSession& spur = Open(false, 10);
  const auto replies = Send(spur, Control(code::kLinkDevice, {1}, 1));
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].status, status::kGenFailure);
}

TEST_F(DispatchFixture, RequestsWaitBehindAnOutstandingReplyOnTheirConnectionOnly) {
  BusSession& reader = Open(true, 10);
  BusSession& other = Open(true, 10);
  auto bytes = busipc::EncodeRequest(EventRead());
  const auto version = busipc::EncodeRequest(Control(code::kGetTrunkVersion, {}));
  bytes.insert(bytes.end(), version.begin(), version.end());
  reader.Feed(bytes);
  EXPECT_TRUE(Take(reader).empty());  // the version request waits behind the read
  ASSERT_EQ(Send(other, Control(code::kGetTrunkVersion, {})).size(), 1u);

  dispatcher.Publish(BuildEventRecord(EventKind::ServerListChanged));
  const auto replies = Take(reader);
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0].output, BuildEventRecord(EventKind::ServerListChanged));
  EXPECT_EQ(replies[1].output, BuildVersion());
}

TEST_F(DispatchFixture, WakeEndsThePendingReadOfTheSameProcess) {
  BusSession& reader = Open(true, 10);
  BusSession& stranger = Open(true, 20);
  BusSession& control = Open(true, 10);
  EXPECT_TRUE(Send(reader, EventRead()).empty());
  EXPECT_TRUE(Send(stranger, EventRead()).empty());
  ASSERT_EQ(Send(control, Control(code::kWakeEventReader, std::vector<uint8_t>(64))).size(), 1u);
  const auto woken = Take(reader);
  ASSERT_EQ(woken.size(), 1u);
  EXPECT_EQ(woken[0].status, 0u);
  EXPECT_TRUE(woken[0].output.empty());
  EXPECT_TRUE(Take(stranger).empty());
}

TEST_F(DispatchFixture, EventReadOnASpurIsRefused) {
  BusSession& spur = Open(false, 10);
  const auto replies = Send(spur, EventRead());
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].status, status::kInvalidFunction);
}

TEST_F(DispatchFixture, MalformedFrameBreaksTheSession) {
  BusSession& trunk = Open(true, 10);
  auto bytes = busipc::EncodeRequest(Control(code::kGetTrunkVersion, {}));
  PutU32(&bytes[4], 7);  // no such op
  trunk.Feed(bytes);
  EXPECT_TRUE(trunk.broken());
  EXPECT_TRUE(trunk.output().empty());
}

namespace {

wire::DeviceInfo Printer(uint8_t number, const std::string& owner) {
  wire::DeviceInfo d;
  d.number = number;
  d.type = "PRINTER";
  d.owner = owner;
  return d;
}

}  // namespace

// A print job's data: only for a device linked to this PC, one job per device at a time, and a
// job whose sender goes away is dropped at the server.
TEST_F(DispatchFixture, DeviceDataGoesToLinkedDevicesOneJobAtATime) {
  backend.devices[kServerIp] = {Printer(1, "PC-A"), Printer(2, "PC-B")};
  BusSession& first = Open(false, 10);
  BusSession& second = Open(false, 11);
  const struct Refusal {
    const char* what;
    Request request;
    uint32_t status;
  } refusals[] = {
      {"another PC's device", Control(code::kWriteDeviceData, {2, 'x'}), status::kNotReady},
      {"a device not in the list", Control(code::kWriteDeviceData, {9, 'x'}), status::kNotReady},
      {"no device number", Control(code::kWriteDeviceData, {}), status::kInvalidParameter},
      {"an end with data", Control(code::kEndDeviceData, {1, 'x'}), status::kInvalidParameter},
  };
  for (const auto& r : refusals) {
    SCOPED_TRACE(r.what);
    const auto replies = Send(first, r.request);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].status, r.status);
  }
  EXPECT_TRUE(backend.dataSent.empty()) << "nothing refused reaches the server";

  EXPECT_TRUE(Send(first, Control(code::kWriteDeviceData, {1, 'a', 'b'})).empty());
  ASSERT_EQ(backend.dataSent.size(), 1u);
  EXPECT_EQ(backend.dataSent[0].type, wire::MsgType::WriteData);
  EXPECT_EQ(backend.dataSent[0].data, (std::vector<uint8_t>{'a', 'b'}));
  backend.dataSent[0].done(0);
  EXPECT_EQ(Take(first).at(0).status, 0u);
  EXPECT_EQ(Send(second, Control(code::kWriteDeviceData, {1, 'z'})).at(0).status, status::kBusy);

  EXPECT_TRUE(Send(first, Control(code::kEndDeviceData, {1})).empty());
  ASSERT_EQ(backend.dataSent.size(), 2u);
  EXPECT_EQ(backend.dataSent[1].type, wire::MsgType::EndData);
  backend.dataSent[1].done(0);
  EXPECT_EQ(Take(first).at(0).status, 0u);

  // The job ended: the other connection's job may begin; it goes away mid-job.
  EXPECT_TRUE(Send(second, Control(code::kWriteDeviceData, {1, 'z'})).empty());
  backend.dataSent.back().done(0);
  Take(second);
  dispatcher.Closed(2);
  ASSERT_EQ(backend.dataSent.size(), 4u);
  EXPECT_EQ(backend.dataSent[3].type, wire::MsgType::AbortData);
  EXPECT_EQ(backend.dataSent[3].number, 1);
  EXPECT_TRUE(Send(first, Control(code::kWriteDeviceData, {1, 'c'})).empty())
      << "the device is free for the next job";
}
