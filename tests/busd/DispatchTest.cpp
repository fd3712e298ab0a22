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

namespace {

// What a Spur connection sees when it sends a piece: answered now, or left waiting.
enum class Answer { Now, Later };

class JobFixture : public DispatchFixture {
 protected:
  JobFixture() { backend.devices[kServerIp] = {Printer(1, "PC-A")}; }

  Answer Piece(BusSession& s, uint8_t byte) {
    const auto replies = Send(s, Control(code::kWriteDeviceData, {1, byte}));
    if (replies.empty()) return Answer::Later;
    EXPECT_EQ(replies.at(0).status, 0u);
    return Answer::Now;
  }
  // The server answers the oldest request it has not answered yet.
  void ServerAnswers(uint32_t result) { backend.dataSent.at(answered++).done(result); }
  std::vector<wire::MsgType> SentTypes() const {
    std::vector<wire::MsgType> types;
    for (const auto& d : backend.dataSent) types.push_back(d.type);
    return types;
  }

  size_t answered = 0;
};

}  // namespace

// After the server took a job's first piece, later pieces are answered as they leave, at most
// kPiecesAhead unanswered by the server; the end always waits for the server.
TEST_F(JobFixture, PiecesRunAheadOfTheServerOnlyOnceTheJobIsOpenThere) {
  BusSession& spur = Open(false, 10);
  EXPECT_EQ(Piece(spur, 0), Answer::Later) << "the first piece waits: it opens the job";
  ServerAnswers(0);
  ASSERT_EQ(Take(spur).size(), 1u);
  for (uint8_t i = 1; i <= PrintJobs::kPiecesAhead; ++i) EXPECT_EQ(Piece(spur, i), Answer::Now);
  EXPECT_EQ(Piece(spur, 99), Answer::Later) << "one more than may run ahead";
  ServerAnswers(0);
  ASSERT_EQ(Take(spur).size(), 1u) << "answered once the server answered the oldest";
  EXPECT_TRUE(Send(spur, Control(code::kEndDeviceData, {1})).empty());
  while (answered + 1 < backend.dataSent.size()) ServerAnswers(0);
  EXPECT_TRUE(Take(spur).empty()) << "the end waits for its own answer";
  ServerAnswers(0);
  EXPECT_EQ(Take(spur).at(0).status, 0u);
  std::vector<uint8_t> bytes;
  for (const auto& d : backend.dataSent) bytes.insert(bytes.end(), d.data.begin(), d.data.end());
  EXPECT_EQ(bytes.size(), PrintJobs::kPiecesAhead + 2) << "every piece went, in order";
  EXPECT_EQ(bytes.back(), 99);
}

TEST_F(JobFixture, AServerThatCannotTakePiecesAheadAnswersEachFirst) {
  backend.piecesAhead = false;
  BusSession& spur = Open(false, 10);
  for (uint8_t i = 0; i < 3; ++i) {
    EXPECT_EQ(Piece(spur, i), Answer::Later);
    ServerAnswers(0);
    EXPECT_EQ(Take(spur).at(0).status, 0u);
  }
}

// A failure the server reports for a piece that was answered already reaches the sender with
// its next request, whatever that is; the server is told to drop the job, the late answers of
// its other pieces change nothing, and the next job starts afresh.
TEST_F(JobFixture, AFailureForAPieceAnsweredAlreadyComesWithTheNextRequest) {
  const struct Case {
    const char* what;
    bool failureBeforeNextRequest;
    uint32_t nextRequest;
  } cases[] = {
      {"failure known, then a piece", true, code::kWriteDeviceData},
      {"failure known, then the end", true, code::kEndDeviceData},
      {"the end waits, then the failure", false, code::kEndDeviceData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    backend.dataSent.clear();
    answered = 0;
    BusSession& spur = Open(false, 10);
    Piece(spur, 0);
    ServerAnswers(0);
    Take(spur);
    ASSERT_EQ(Piece(spur, 1), Answer::Now);
    ASSERT_EQ(Piece(spur, 2), Answer::Now);
    if (c.failureBeforeNextRequest) ServerAnswers(status::kNotReady);
    const std::vector<uint8_t> input =
        c.nextRequest == code::kEndDeviceData ? std::vector<uint8_t>{1} : std::vector<uint8_t>{1, 3};
    auto replies = Send(spur, Control(c.nextRequest, input));
    if (!c.failureBeforeNextRequest) {
      EXPECT_TRUE(replies.empty());
      ServerAnswers(status::kNotReady);
      replies = Take(spur);
    }
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].status, status::kNotReady);
    EXPECT_EQ(SentTypes().back(), wire::MsgType::AbortData) << "the server drops what it has";
    const size_t sent = backend.dataSent.size();
    while (answered < sent) ServerAnswers(status::kNotReady);
    EXPECT_TRUE(Take(spur).empty()) << "late answers of a dropped job are no replies";
    EXPECT_EQ(Piece(spur, 7), Answer::Later) << "a new job: its first piece waits again";
    EXPECT_EQ(backend.dataSent.size(), sent + 1);
    ServerAnswers(0);
    EXPECT_EQ(Take(spur).at(0).status, 0u);
    dispatcher.Closed(nextId - 1);
  }
}

TEST_F(JobFixture, ALostServerFailsTheWaitingPieceAndFreesTheDevice) {
  BusSession& spur = Open(false, 10);
  Piece(spur, 0);
  ServerAnswers(0);
  Take(spur);
  for (uint8_t i = 1; i <= PrintJobs::kPiecesAhead; ++i) Piece(spur, i);
  EXPECT_EQ(Piece(spur, 50), Answer::Later);
  // The connection to the server goes: every waiting request fails with 31.
  while (answered < backend.dataSent.size()) ServerAnswers(status::kGenFailure);
  EXPECT_EQ(Take(spur).at(0).status, status::kGenFailure);
  BusSession& other = Open(false, 11);
  EXPECT_EQ(Piece(other, 0), Answer::Later) << "the device is free for another job";
}
