// SPDX-License-Identifier: GPL-2.0-or-later
// Device instance IDs and the two plug-and-play codes: which IDs name a device linked to this PC,
// how busd answers "node present" and "request eject" (also to bad input), and how an eject
// travels to the server and back.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>

#include "base/ByteOrder.h"
#include "busd/BusSession.h"
#include "busd/HubSession.h"
#include "busd/ReplyBuilder.h"
#include "busd/UsbInstance.h"
#include "tests/busd/FakeBackend.h"

using namespace tessaro;
using namespace tessaro::busd;
using busipc::Reply;
namespace code = busipc::code;

namespace {

const uint32_t kServerIp = ::inet_addr("127.0.0.2");

wire::DeviceInfo Storage(uint8_t number, std::string serial, std::string owner) {
  wire::DeviceInfo d;
  d.number = number;
  d.vendorId = 0x2E10;
  d.productId = 0x5567;
  d.type = "MASS STORAGE";
  d.serial = std::move(serial);
  d.owner = std::move(owner);
  return d;
}

std::vector<uint8_t> CString(const std::string& text) {
  std::vector<uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

}  // namespace

TEST(UsbInstance, WhichTextsNameWhichDevice) {
  const wire::DeviceInfo d = Storage(2, "4C5300012312", "PC-A");
  const struct {
    const char* text;
    bool names;
  } cases[] = {
      {"USB\\Vid_2e10&Pid_5567\\4C5300012312", true},
      {"USB\\Vid_2e10&Pid_5567\\4C5300012312", true},
      {"usb\\VID_2E10&PID_5567\\4C5300012312", true},   // the IDs part ignores letter case
      {"USB\\Vid_2E10&Pid_5567\\4c5300012312", false},  // the instance does not
      {"USB\\Vid_2e10&Pid_5568\\4C5300012312", false},
      {"USB\\Vid_2e10&Pid_5567\\4C530001231", false},
      {"USB\\Vid_2e10&Pid_5567\\4C5300012312\\x", false},
      {"USB\\Vid_2e10&Pid_5567&MI_00\\4C5300012312", false},
      {"USB\\Vid_2e1&Pid_5567\\4C5300012312", false},
      {"USB\\Vid_2e1g&Pid_5567\\4C5300012312", false},
      {"USB\\Vid_2e10&Pid_5567\\", false},
      {"USBSTOR\\Vid_2e10&Pid_5567\\4C5300012312", false},
      {"", false},
  };
  for (const auto& c : cases) {
    const auto id = ParseUsbInstanceId(c.text);
    EXPECT_EQ(id && NamesDevice(*id, kServerIp, d), c.names) << c.text;
  }
}

TEST(UsbInstance, SerialNamesTheInstanceWhenItCanNameAKey) {
  const struct {
    const char* what;
    std::string serial;
    std::string instance;  // empty: a generated name
  } cases[] = {
      {"plain serial", "LW2040-00731", "LW2040-00731"},
      {"cut as programs see it", std::string(70, 'S'), std::string(63, 'S')},
      {"none", "", ""},
      {"a space", "AB 12", ""},
      {"a backslash", "AB\\12", ""},
      {"a comma", "AB,12", ""},
      {"a byte above ASCII", "AB\xE9", ""},
      {"a control byte", std::string("AB\x01", 3), ""},
  };
  for (const auto& c : cases) {
    const std::string name = InstanceName(kServerIp, Storage(3, c.serial, ""));
    if (!c.instance.empty()) {
      EXPECT_EQ(name, c.instance) << c.what;
      continue;
    }
    EXPECT_EQ(name.substr(0, 2), "6&") << c.what;
    EXPECT_EQ(name.substr(name.size() - 4), "&0&3") << c.what;
    EXPECT_EQ(name, InstanceName(kServerIp, Storage(3, c.serial, "PC-B"))) << "stable";
    EXPECT_NE(name, InstanceName(kServerIp, Storage(4, c.serial, ""))) << "per device";
    EXPECT_NE(name, InstanceName(::inet_addr("127.0.0.3"), Storage(3, c.serial, "")));
    const auto parsed = ParseUsbInstanceId("USB\\Vid_2e10&Pid_5567\\" + name);
    ASSERT_TRUE(parsed) << c.what;
    EXPECT_TRUE(NamesDevice(*parsed, kServerIp, Storage(3, c.serial, ""))) << c.what;
  }
}

namespace {

// A Trunk connection over a fake backend; replies routed later go to it.
class NodeDispatch : public ::testing::Test, public ReplyRouter {
 protected:
  NodeDispatch() {
    const ConnectionInfo info{1, true, 10, 0};
    dispatcher.Opened(info);
    trunk = std::make_unique<BusSession>(info, dispatcher);
    backend.devices[kServerIp] = {Storage(1, "MINE-1", "PC-A"), Storage(2, "THEIRS-2", "PC-B"),
                                  Storage(3, "", "PC-A")};
  }
  void Complete(int, const Reply& reply) override { trunk->Complete(reply); }

  std::vector<Reply> Call(uint32_t c, std::vector<uint8_t> input, uint32_t out = 264) {
    trunk->Feed(busipc::EncodeRequest({busipc::Op::Control, c, out, std::move(input)}));
    return Take();
  }
  std::vector<Reply> Take() {
    busipc::ReplyDecoder d;
    d.Feed(trunk->output());
    trunk->output().clear();
    std::vector<Reply> replies;
    while (auto r = d.Next()) replies.push_back(*r);
    return replies;
  }
  std::string Generated() const {
    return "USB\\Vid_2e10&Pid_5567\\" + InstanceName(kServerIp, Storage(3, "", ""));
  }

  fakes::FakeBackend backend;
  RequestDispatcher dispatcher{backend, *this};
  std::unique_ptr<BusSession> trunk;
};

}  // namespace

TEST_F(NodeDispatch, NodePresentOnlyForDevicesLinkedHere) {
  std::vector<uint8_t> withTail = CString("USB\\Vid_2e10&Pid_5567\\MINE-1");
  withTail.insert(withTail.end(), {'j', 'u', 'n', 'k', 0});  // what follows the NUL is not read
  const struct {
    const char* what;
    std::vector<uint8_t> input;
    uint32_t status;
  } cases[] = {
      {"linked here", CString("USB\\Vid_2e10&Pid_5567\\MINE-1"), status::kSuccess},
      {"IDs in other letter cases", CString("USB\\VID_2E10&PID_5567\\MINE-1"), status::kSuccess},
      {"instance in another letter case", CString("USB\\Vid_2e10&Pid_5567\\mine-1"),
       status::kNotFound},
      {"a generated instance", CString(Generated()), status::kSuccess},
      {"linked to another PC", CString("USB\\Vid_2e10&Pid_5567\\THEIRS-2"), status::kNotFound},
      {"no such device", CString("USB\\Vid_2e10&Pid_5567\\NONE"), status::kNotFound},
      {"not an instance ID", CString("hello"), status::kNotFound},
      {"bytes after the NUL", withTail, status::kSuccess},
      {"no NUL", {'U', 'S', 'B'}, status::kInvalidParameter},
      {"empty input", {}, status::kInvalidParameter},
      {"201 bytes", std::vector<uint8_t>(201, 0), status::kInvalidParameter},
      {"200 bytes", CString(std::string(199, 'x')), status::kNotFound},
  };
  for (const auto& c : cases) {
    const auto replies = Call(code::kDeviceNodePresent, c.input, 0);
    ASSERT_EQ(replies.size(), 1u) << c.what;
    EXPECT_EQ(replies[0].status, c.status) << c.what;
    EXPECT_TRUE(replies[0].output.empty()) << c.what;
  }
  EXPECT_TRUE(backend.ejects.empty());

  backend.devices[kServerIp][0].owner = "PC-B";  // another PC took it
  EXPECT_EQ(Call(code::kDeviceNodePresent, CString("USB\\Vid_2e10&Pid_5567\\MINE-1"))[0].status,
            status::kNotFound);
}

TEST_F(NodeDispatch, EjectAsksTheServerOfTheLinkedDeviceAndReturnsItsVeto) {
  const std::string mine = "usb\\vid_2e10&pid_5567\\MINE-1";
  EXPECT_TRUE(Call(code::kRequestEject, CString(mine)).empty()) << "waits for the server";
  ASSERT_EQ(backend.ejects.size(), 1u);
  EXPECT_EQ(backend.ejects[0].ip, kServerIp);
  EXPECT_EQ(backend.ejects[0].number, 1);
  backend.ejects[0].done(0, {6, "Open files on E:"});
  auto replies = Take();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].status, 0u);
  ASSERT_EQ(replies[0].output.size(), 4u + 16 + 1);
  EXPECT_EQ(GetU32(replies[0].output.data()), 6u);
  EXPECT_STREQ(reinterpret_cast<const char*>(&replies[0].output[4]), "Open files on E:");

  const struct {
    const char* what;
    uint32_t status;
    wire::EjectReply reply;
    uint32_t expectStatus;
    std::vector<uint8_t> expectOutput;
  } answers[] = {
      {"no veto", 0, {0, ""}, 0, {0, 0, 0, 0, 0}},
      {"a name too long is cut to fit 260 bytes", 0, {5, std::string(400, 'n')}, 0, {}},
      {"refused by the server", 31, {}, 31, {}},
      {"unknown to the server", 1168, {}, 1168, {}},
  };
  for (const auto& a : answers) {
    backend.ejects.clear();
    EXPECT_TRUE(Call(code::kRequestEject, CString(mine)).empty());
    ASSERT_EQ(backend.ejects.size(), 1u) << a.what;
    backend.ejects[0].done(a.status, a.reply);
    replies = Take();
    ASSERT_EQ(replies.size(), 1u) << a.what;
    EXPECT_EQ(replies[0].status, a.expectStatus) << a.what;
    if (!a.expectOutput.empty()) {
      EXPECT_EQ(replies[0].output, a.expectOutput) << a.what;
    }
    if (a.reply.vetoName.size() > 259) {
      ASSERT_EQ(replies[0].output.size(), 4u + 260) << a.what;
      EXPECT_EQ(replies[0].output.back(), 0) << a.what;
    }
  }
}

TEST_F(NodeDispatch, EjectOfADeviceNotLinkedHereOrOfAnUnreachableServer) {
  const struct {
    const char* what;
    std::vector<uint8_t> input;
    bool reachable;
    uint32_t status;
  } cases[] = {
      {"another PC's device", CString("USB\\Vid_2e10&Pid_5567\\THEIRS-2"), true, status::kNotFound},
      {"no such device", CString("USB\\Vid_2e10&Pid_5567\\NONE"), true, status::kNotFound},
      {"no NUL", std::vector<uint8_t>(10, 'x'), true, status::kInvalidParameter},
      {"over 200 bytes", CString(std::string(200, 'x')), true, status::kInvalidParameter},
      {"server unreachable", CString("USB\\Vid_2e10&Pid_5567\\MINE-1"), false, status::kGenFailure},
  };
  for (const auto& c : cases) {
    backend.reachable = c.reachable;
    const auto replies = Call(code::kRequestEject, c.input);
    ASSERT_EQ(replies.size(), 1u) << c.what;
    EXPECT_EQ(replies[0].status, c.status) << c.what;
    EXPECT_TRUE(replies[0].output.empty()) << c.what;
  }
  EXPECT_TRUE(backend.ejects.empty());
}

namespace {

class Silent : public HubListener {
 public:
  void OnServerInfo(const wire::ServerInfo&, bool) override {}
  void OnDevices(std::vector<wire::DeviceInfo>, uint32_t) override {}
  void OnUseRequested(const wire::UseRequested&) override {}
};

}  // namespace

TEST(HubSessionEject, RepliesReachTheirEjectByIdAndLeftoversFail) {
  Silent listener;
  const auto now = Clock::now();
  const wire::PcKey key = wire::PcKey::FromSeed(wire::KeySeed{4});
  auto session = std::make_unique<HubSession>(listener, "PC-A", key, 0x0200007F, 2005, now);
  session->Feed(wire::EncodeFrame({wire::MsgType::Challenge, 0, 1, wire::EncodeChallenge({})}),
                now);
  wire::ServerInfo info;
  session->Feed(wire::EncodeFrame({wire::MsgType::HelloReply, 0, 1, wire::EncodeServerInfo(info)}),
                now);
  session->output().clear();

  std::map<int, std::pair<uint32_t, wire::EjectReply>> got;
  for (int k = 0; k < 4; ++k)
    session->Eject(static_cast<uint8_t>(k + 1), [&got, k](uint32_t s, const wire::EjectReply& r) {
      got[k] = {s, r};
    });
  wire::FrameDecoder sent;
  sent.Feed(session->output());
  std::vector<uint32_t> ids;
  while (auto f = sent.Next()) {
    EXPECT_EQ(f->type, wire::MsgType::Eject);
    EXPECT_EQ(wire::DecodeDeviceCommand(wire::MsgType::Eject, f->payload)->number, ids.size() + 1);
    ids.push_back(f->id);
  }
  ASSERT_EQ(ids.size(), 4u);
  auto feed = [&](wire::MsgType type, uint32_t id, std::vector<uint8_t> payload) {
    session->Feed(wire::EncodeFrame({type, 0, id, std::move(payload)}), now);
  };
  feed(wire::MsgType::EjectReply, ids[1], wire::EncodeEjectReply({5, "busy"}));
  feed(wire::MsgType::Result, ids[0], wire::EncodeResult(31));
  // Success without an EjectReply has not said "no veto".
  feed(wire::MsgType::Result, ids[2], wire::EncodeResult(0));
  EXPECT_EQ(got[1].first, 0u);
  EXPECT_EQ(got[1].second.vetoType, 5u);
  EXPECT_EQ(got[1].second.vetoName, "busy");
  EXPECT_EQ(got[0].first, 31u);
  EXPECT_EQ(got[2].first, status::kGenFailure);
  EXPECT_FALSE(got.count(3));
  EXPECT_FALSE(session->broken());
  session.reset();  // the connection goes: the eject still waiting fails
  EXPECT_EQ(got[3].first, status::kGenFailure);
}

TEST(HubSessionEject, MalformedEjectReplyBreaksTheConnection) {
  Silent listener;
  const wire::PcKey key = wire::PcKey::FromSeed(wire::KeySeed{4});
  HubSession session(listener, "PC-A", key, 0x0200007F, 2005, Clock::now());
  session.Feed(wire::EncodeFrame({wire::MsgType::EjectReply, 0, 5, {1, 2}}), Clock::now());
  EXPECT_TRUE(session.broken());
}
