// SPDX-License-Identifier: GPL-2.0-or-later
// The real tessaro-hubd on 127.0.0.2 inside this test's own network namespace, driven over TCP and
// UDP as two PCs would drive it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <fstream>
#include <map>
#include <set>

#include "base/FileHandle.h"
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
constexpr std::chrono::seconds kDeadline{20};

const std::string kConfig =
    "[server]\n"
    "name = HUB-ONE\n"
    "address = 127.0.0.2\n"
    "mac = 02:00:00:00:00:02\n"
    "storage-mode = 3\n"
    "[device 1]\n"
    "type = PRINTER\n"
    "vendor-id = 04f9\n"
    "product-id = 0042\n"
    "product = Laser 1\n"
    "class = 07/01/02\n"
    "[device 2]\n"
    "type = MASS STORAGE\n"
    "vendor-id = 0781\n"
    "product-id = 5567\n";

std::vector<uint8_t> Cmd(MsgType type, uint8_t number, uint8_t kind = 0, uint32_t value = 0) {
  return wire::EncodeDeviceCommand(type, {number, kind, value});
}

uint32_t ResultOf(const Frame& f) {
  EXPECT_EQ(f.type, MsgType::Result);
  return wire::DecodeResult(f.payload).value_or(0xFFFFFFFF);
}

std::vector<wire::DeviceInfo> ListOf(const Frame& f) {
  return wire::DecodeDeviceList(f.payload).value_or(std::vector<wire::DeviceInfo>{});
}

uint32_t Ip(const char* text) {
  in_addr a{};
  inet_pton(AF_INET, text, &a);
  return a.s_addr;
}

class Hubd : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteTextFile(config, kConfig);
    hubd = Start("127.0.0.2", {});
    ASSERT_TRUE(hubd->WaitForOutput("hubd: ready 127.0.0.2:2005", kDeadline)) << hubd->Output();
  }

  std::unique_ptr<Process> Start(const std::string& address, std::vector<std::string> extra,
                                 std::map<std::string, std::string> env = {}) {
    std::vector<std::string> args{"--config", config, "--address", address};
    args.insert(args.end(), extra.begin(), extra.end());
    auto process = std::make_unique<Process>(kBinary, args, std::move(env));
    EXPECT_TRUE(process->Start());
    return process;
  }

  // A PC connected from its own loopback address and greeted.
  std::unique_ptr<WireClient> Pc(const std::string& name, const std::string& from) {
    auto c = std::make_unique<WireClient>("127.0.0.2", 2005, from);
    EXPECT_TRUE(c->connected());
    EXPECT_TRUE(c->Hello(name));
    return c;
  }

  TempDir dir;
  const std::string config = dir / "hub.ini";
  std::unique_ptr<Process> hubd;
};

TEST_F(Hubd, HelloThenDeviceList) {
  WireClient pc("127.0.0.2", 2005);
  const auto info = pc.Hello("PC-A");
  ASSERT_TRUE(info);
  EXPECT_EQ(info->name, "HUB-ONE");
  EXPECT_EQ(info->mac, (std::array<uint8_t, 6>{2, 0, 0, 0, 0, 2}));
  EXPECT_EQ(info->storageMode, 3);
  EXPECT_EQ(info->major, wire::kVersionMajor);
  const auto frames = pc.Call(MsgType::GetDevices, 2);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].type, MsgType::DeviceList);
  const auto list = ListOf(frames[0]);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].type, "PRINTER");
  EXPECT_EQ(list[0].vendorId, 0x04F9);
  EXPECT_EQ(list[0].descriptors,
            (std::vector<std::pair<std::string, std::string>>{{"class", "07/01/02"}}));
  EXPECT_EQ(list[1].type, "MASS STORAGE");
  EXPECT_EQ(list[1].owner, "");
  EXPECT_EQ(pc.Call(MsgType::Ping, 3).at(0).type, MsgType::Pong);
}

TEST_F(Hubd, OwnershipAndLocksAcrossTwoPcs) {
  auto a = Pc("PC-A", "127.0.0.5");
  auto b = Pc("PC-B", "127.0.0.9");

  // The change notice comes before the Result on the requester's connection, and to the other PC.
  auto fa = a->Call(MsgType::Link, 10, Cmd(MsgType::Link, 1));
  ASSERT_EQ(fa.size(), 2u);
  EXPECT_EQ(fa[0].type, MsgType::DevicesChanged);
  EXPECT_EQ(ListOf(fa[0]).at(0).owner, "PC-A");
  EXPECT_EQ(ResultOf(fa[1]), 0u);
  auto pushed = b->Read();
  ASSERT_TRUE(pushed);
  EXPECT_EQ(pushed->type, MsgType::DevicesChanged);
  EXPECT_EQ(ListOf(*pushed).at(0).owner, "PC-A");

  fa = a->Call(MsgType::Lock, 11, Cmd(MsgType::Lock, 1, 2, 600));
  ASSERT_EQ(fa.size(), 2u);
  EXPECT_EQ(ListOf(fa[0]).at(0).lockCount, 1);
  EXPECT_EQ(ListOf(fa[0]).at(0).lockKind, 2);
  EXPECT_EQ(ListOf(b->Read().value()).at(0).lockCount, 1);

  // The other PC is refused, and a refusal changes nothing, so nothing is pushed.
  for (auto type : {MsgType::Link, MsgType::Lock, MsgType::Unlock, MsgType::Unlink}) {
    const auto fb = b->Call(type, 20, Cmd(type, 1, 2, 10));
    ASSERT_EQ(fb.size(), 1u) << static_cast<int>(type);
    EXPECT_EQ(ResultOf(fb[0]), 31u) << static_cast<int>(type);
  }
  EXPECT_EQ(ResultOf(b->Call(MsgType::Link, 21, Cmd(MsgType::Link, 99)).at(0)), 1168u);

  // A request to use reaches the owner with the requester's address and name.
  const auto fb = b->Call(MsgType::RequestToUse, 22, Cmd(MsgType::RequestToUse, 1, 1, 0));
  ASSERT_EQ(fb.size(), 1u);
  EXPECT_EQ(ResultOf(fb[0]), 0u);
  const auto request = a->Read();
  ASSERT_TRUE(request);
  ASSERT_EQ(request->type, MsgType::UseRequested);
  const auto use = wire::DecodeUseRequested(request->payload).value();
  EXPECT_EQ(use.deviceNumber, 1);
  EXPECT_EQ(use.requesterIp, Ip("127.0.0.9"));
  EXPECT_EQ(use.requesterName, "PC-B");

  // Unlock at once: the other PC may now take the device.
  EXPECT_EQ(ResultOf(a->Call(MsgType::Unlock, 12, Cmd(MsgType::Unlock, 1, 2, 0)).at(1)), 0u);
  EXPECT_EQ(ListOf(b->Read().value()).at(0).lockCount, 0);
  const auto taken = b->Call(MsgType::Link, 23, Cmd(MsgType::Link, 1));
  ASSERT_EQ(taken.size(), 2u);
  EXPECT_EQ(ListOf(taken[0]).at(0).owner, "PC-B");
  EXPECT_EQ(ListOf(a->Read().value()).at(0).owner, "PC-B");
}

TEST_F(Hubd, LockEndsByItselfAndEveryPcHearsOfIt) {
  auto a = Pc("PC-A", "127.0.0.5");
  auto b = Pc("PC-B", "127.0.0.9");
  ASSERT_EQ(a->Call(MsgType::Link, 1, Cmd(MsgType::Link, 2)).size(), 2u);
  ASSERT_EQ(a->Call(MsgType::Lock, 2, Cmd(MsgType::Lock, 2, 1, 1)).size(), 2u);
  b->Read();  // link
  b->Read();  // lock
  for (WireClient* pc : {a.get(), b.get()}) {
    const auto expired = pc->Read();
    ASSERT_TRUE(expired);
    EXPECT_EQ(expired->type, MsgType::DevicesChanged);
    EXPECT_EQ(ListOf(*expired).at(1).lockCount, 0);
    EXPECT_EQ(ListOf(*expired).at(1).owner, "PC-A");
  }
}

TEST_F(Hubd, ReloadAddsADeviceWhileConnectedAndABadConfigIsRefused) {
  auto a = Pc("PC-A", "127.0.0.5");
  ASSERT_EQ(a->Call(MsgType::Link, 1, Cmd(MsgType::Link, 1)).size(), 2u);
  WriteTextFile(config,
                kConfig + "[device 7]\ntype = SCANNER\nvendor-id = 04b8\nproduct-id = 0110\n");
  hubd->Signal(SIGHUP);
  const auto changed = a->Read();
  ASSERT_TRUE(changed);
  EXPECT_EQ(changed->type, MsgType::DevicesChanged);
  const auto list = ListOf(*changed);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].owner, "PC-A") << "device 1 kept its number and IDs, so its owner";
  EXPECT_EQ(list[2].number, 7);
  EXPECT_EQ(list[2].type, "SCANNER");

  WriteTextFile(config, "[server]\nport = many\n");
  hubd->Signal(SIGHUP);
  ASSERT_TRUE(hubd->WaitForOutput("reload refused", kDeadline)) << hubd->Output();
  EXPECT_NE(hubd->Output().find("hub.ini:2: bad port"), std::string::npos) << hubd->Output();
  const auto still = a->Call(MsgType::GetDevices, 2);
  ASSERT_EQ(still.size(), 1u);
  EXPECT_EQ(ListOf(still[0]).size(), 3u);
}

// A UDP socket of the test PC, bound to 127.0.0.9 on a port the system picks.
class UdpPeer {
 public:
  UdpPeer() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    const int on = 1;
    ::setsockopt(fd_.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = Ip("127.0.0.9");
    ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  }
  void SendTo(const char* ip, const std::vector<uint8_t>& bytes) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = Ip(ip);
    to.sin_port = htons(wire::kDiscoveryPort);
    ::sendto(fd_.get(), bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  // The next datagram and its source, waiting up to ten seconds.
  std::optional<std::pair<std::vector<uint8_t>, sockaddr_in>> Receive() {
    pollfd p{fd_.get(), POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0) return std::nullopt;
    std::vector<uint8_t> buffer(70000);
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t n = ::recvfrom(fd_.get(), buffer.data(), buffer.size(), 0,
                                 reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) return std::nullopt;
    buffer.resize(static_cast<size_t>(n));
    return std::make_pair(buffer, from);
  }

 private:
  UniqueFd fd_;
};

std::vector<uint8_t> Discover(uint32_t id) {
  return wire::EncodeFrame({MsgType::Discover, 0, id, wire::EncodeVersionProbe({})});
}

TEST_F(Hubd, DiscoveryIsAnsweredAndOtherDatagramsIgnored) {
  UdpPeer peer;
  const std::string selfTest = "test_udp";
  peer.SendTo("127.0.0.2", std::vector<uint8_t>(selfTest.begin(), selfTest.end()));
  auto cut = Discover(5);
  cut.pop_back();  // payload one byte short: not a Discover
  peer.SendTo("127.0.0.2", cut);
  peer.SendTo("127.0.0.2",
              wire::EncodeFrame({MsgType::Hello, 0, 6, wire::EncodeHello({1, 0, "X"})}));
  peer.SendTo("127.0.0.2", Discover(7));
  // hubd handles datagrams in order: an answer to any of the others would arrive first.
  const auto reply = peer.Receive();
  ASSERT_TRUE(reply);
  const auto frame = wire::DecodeDatagram(reply->first);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->type, MsgType::DiscoverReply);
  EXPECT_EQ(frame->id, 7u);
  EXPECT_EQ(reply->second.sin_addr.s_addr, Ip("127.0.0.2"))
      << "the reply leaves from the server's address";
  const auto info = wire::DecodeServerInfo(frame->payload);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->tcpPort, 2005);
  EXPECT_EQ(info->name, "HUB-ONE");
}

// What hubd tells a service manager waiting on NOTIFY_SOCKET, one datagram at a time.
class NotifySocket {
 public:
  explicit NotifySocket(const std::string& path)
      : path_(path), fd_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    EXPECT_EQ(::bind(fd_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << path;
  }
  const std::string& path() const { return path_; }
  // The next message, or "(nothing)" when none came before the deadline.
  std::string Next() {
    pollfd p{fd_.get(), POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(kDeadline.count() * 1000)) != 1) return "(nothing)";
    char buffer[256];
    const ssize_t n = ::recv(fd_.get(), buffer, sizeof buffer, 0);
    return n < 0 ? "(error)" : std::string(buffer, static_cast<size_t>(n));
  }

 private:
  std::string path_;
  UniqueFd fd_;
};

TEST_F(Hubd, AWaitingServiceManagerHearsReadyAndEachReload) {
  NotifySocket manager(dir / "notify");
  auto notified = Start("127.0.0.3", {"--port", "2006"}, {{"NOTIFY_SOCKET", manager.path()}});
  ASSERT_TRUE(notified->WaitForOutput("hubd: ready 127.0.0.3:2006", kDeadline))
      << notified->Output();
  EXPECT_EQ(manager.Next(), "READY=1");
  for (const char* what : {"a reload taken", "a reload refused"}) {
    SCOPED_TRACE(what);
    if (std::string(what) == "a reload refused") WriteTextFile(config, "[server]\nport = many\n");
    notified->Signal(SIGHUP);
    const std::string reloading = manager.Next();
    EXPECT_EQ(reloading.rfind("RELOADING=1\nMONOTONIC_USEC=", 0), 0u) << reloading;
    EXPECT_EQ(manager.Next(), "READY=1");
  }
}

TEST_F(Hubd, TwoServersOnOneMachineShareTheDiscoveryPort) {
  auto second = Start("127.0.0.3", {"--port", "2006"});
  ASSERT_TRUE(second->WaitForOutput("hubd: ready 127.0.0.3:2006", kDeadline)) << second->Output();
  UdpPeer peer;
  peer.SendTo("127.0.0.3", Discover(1));
  auto unicast = peer.Receive();
  ASSERT_TRUE(unicast);
  EXPECT_EQ(unicast->second.sin_addr.s_addr, Ip("127.0.0.3"));
  EXPECT_EQ(
      wire::DecodeServerInfo(wire::DecodeDatagram(unicast->first).value().payload).value().tcpPort,
      2006);

  peer.SendTo("127.255.255.255", Discover(2));  // the loopback network's broadcast address
  std::set<uint32_t> answered;
  for (int i = 0; i < 2; ++i)
    if (auto r = peer.Receive()) answered.insert(r->second.sin_addr.s_addr);
  EXPECT_EQ(answered, (std::set<uint32_t>{Ip("127.0.0.2"), Ip("127.0.0.3")}));
}

TEST_F(Hubd, MalformedFrameClosesOnlyThatConnection) {
  auto a = Pc("PC-A", "127.0.0.5");
  auto bad = Pc("PC-B", "127.0.0.9");
  ASSERT_TRUE(bad->SendBytes(std::vector<uint8_t>(16, 0xEE)));
  EXPECT_TRUE(bad->WaitClosed());

  WireClient oversized("127.0.0.2", 2005);
  auto header = wire::EncodeFrame({MsgType::Hello, 0, 1, {}});
  header[12] = 0x01;
  header[14] = 0x01;  // 65537 bytes promised
  ASSERT_TRUE(oversized.SendBytes(header));
  EXPECT_TRUE(oversized.WaitClosed());

  WireClient early("127.0.0.2", 2005);
  ASSERT_TRUE(early.Send(MsgType::GetDevices, 1));
  EXPECT_TRUE(early.WaitClosed()) << "nothing but Hello comes first";

  EXPECT_EQ(a->Call(MsgType::Ping, 2).at(0).type, MsgType::Pong);
  auto c = Pc("PC-C", "127.0.0.6");
  EXPECT_EQ(ListOf(c->Call(MsgType::GetDevices, 2).at(0)).size(), 2u);
  EXPECT_TRUE(hubd->WaitForOutputCount("closing connection from", 3, kDeadline)) << hubd->Output();
}

TEST_F(Hubd, NameWithANewlineStaysOnOneLogLine) {
  auto pc = Pc("PC\nFAKE LINE", "127.0.0.5");
  ASSERT_TRUE(hubd->WaitForOutput("connected from 127.0.0.5", kDeadline)) << hubd->Output();
  const std::string out = hubd->Output();
  EXPECT_NE(out.find("hubd: PC\\x0AFAKE LINE connected from 127.0.0.5"), std::string::npos) << out;
  EXPECT_EQ(out.find("\nFAKE LINE"), std::string::npos) << out;
}

TEST_F(Hubd, OtherMajorVersionGetsTheReplyThenTheConnectionEnds) {
  WireClient pc("127.0.0.2", 2005);
  const auto info = pc.Hello("PC-A", wire::kVersionMajor + 1);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->major, wire::kVersionMajor);
  EXPECT_TRUE(pc.WaitClosed());

  auto older = Start("127.0.0.3", {"--protocol-version", "7"});
  ASSERT_TRUE(older->WaitForOutput("hubd: ready", kDeadline)) << older->Output();
  WireClient other("127.0.0.3", 2005);
  const auto seven = other.Hello("PC-A");
  ASSERT_TRUE(seven);
  EXPECT_EQ(seven->major, 7);
  EXPECT_TRUE(other.WaitClosed());
}

// Connections that never say Hello, all from one address, get no more than their share of the
// table: PCs from other addresses get in at once.
TEST_F(Hubd, ConnectionsWithoutHelloDoNotLockPcsOut) {
  std::vector<std::unique_ptr<WireClient>> flood;
  for (int i = 0; i <= 16; ++i) {  // one more than the default cap per address
    flood.push_back(std::make_unique<WireClient>("127.0.0.2", 2005, "127.0.0.1"));
    ASSERT_TRUE(flood.back()->connected()) << i;
  }
  ASSERT_TRUE(hubd->WaitForOutput(": too many connections from its address\n", kDeadline))
      << hubd->Output();
  auto pc = std::make_unique<WireClient>("127.0.0.2", 2005, "127.0.0.9");
  ASSERT_TRUE(pc->connected());
  ASSERT_TRUE(pc->Hello("PC-A")) << hubd->Output();
  EXPECT_EQ(pc->Call(MsgType::GetDevices, 2).size(), 1u);
}

// Connections from many addresses, none over the cap per address, fill the whole table: the
// next one is refused for that, and a PC gets in again once they have gone. Their Hello deadline
// is far off, so that the table stays full however slowly a loaded machine connects them.
TEST_F(Hubd, TheWholeTableRefusesConnectionsBeyondIt) {
  auto full = Start("127.0.0.3", {"--hello-timeout", "600"});
  ASSERT_TRUE(full->WaitForOutput("hubd: ready 127.0.0.3:2005", kDeadline)) << full->Output();
  constexpr int kPerAddress = 16;  // the default cap per address
  constexpr int kAddresses = 33;   // 33 * 16 = 528: more than the table's 512
  std::vector<std::unique_ptr<WireClient>> flood;
  for (int a = 1; a <= kAddresses; ++a) {
    for (int i = 0; i < kPerAddress; ++i) {
      flood.push_back(
          std::make_unique<WireClient>("127.0.0.3", 2005, "127.0.1." + std::to_string(a)));
      ASSERT_TRUE(flood.back()->connected()) << a << " " << i;
    }
  }
  ASSERT_TRUE(full->WaitForOutput(": too many connections\n", kDeadline)) << full->Output();
  EXPECT_EQ(full->Output().find("from its address"), std::string::npos) << full->Output();
  {
    WireClient refused("127.0.0.3", 2005, "127.0.0.9");
    EXPECT_FALSE(refused.Hello("PC-A")) << "the table is full";
  }
  flood.clear();
  EXPECT_TRUE(Eventually([&] {
    WireClient pc("127.0.0.3", 2005, "127.0.0.9");
    return pc.Hello("PC-A").has_value();
  })) << full->Output();
}

// Tight limits from the command line: silent connections are closed, and their address gets in
// again once they are gone.
TEST_F(Hubd, SilentConnectionsAreClosedAfterTheirDeadline) {
  auto tight =
      Start("127.0.0.3", {"--hello-timeout", "1", "--idle-timeout", "2", "--max-per-address", "4"});
  ASSERT_TRUE(tight->WaitForOutput("hubd: ready 127.0.0.3:2005", kDeadline)) << tight->Output();
  std::vector<std::unique_ptr<WireClient>> silent;
  for (int i = 0; i < 8; ++i)
    silent.push_back(std::make_unique<WireClient>("127.0.0.3", 2005, "127.0.0.1"));
  for (auto& c : silent) EXPECT_TRUE(c->WaitClosed()) << tight->Output();
  WireClient pc("127.0.0.3", 2005, "127.0.0.1");
  ASSERT_TRUE(pc.Hello("PC-A")) << tight->Output();
  EXPECT_TRUE(pc.WaitClosed()) << "a PC that sends nothing is closed";
  EXPECT_NE(tight->Output().find("no Hello in time"), std::string::npos);
  EXPECT_NE(tight->Output().find("silent for too long"), std::string::npos);
}

TEST_F(Hubd, TermEndsItCleanly) {
  auto a = Pc("PC-A", "127.0.0.5");
  hubd->Signal(SIGTERM);
  EXPECT_EQ(hubd->WaitForExit(kDeadline), 0);
  EXPECT_TRUE(a->WaitClosed());
}

TEST(HubdStart, BadConfigIsReportedWithItsLine) {
  TempDir dir;
  const std::string config = dir / "bad.ini";
  WriteTextFile(config, "[server]\naddress = 127.0.0.2\n[device 300]\n");
  Process hubd(kBinary, {"--config", config});
  ASSERT_TRUE(hubd.Start());
  EXPECT_EQ(hubd.WaitForExit(kDeadline), 1);
  EXPECT_NE(hubd.Output().find("bad.ini:3: device number 300 outside 1..127"), std::string::npos)
      << hubd.Output();
}

}  // namespace

namespace {

// What a Hello as `name` with `key` comes to: the HelloReply's server name, or the refusal.
std::string HelloAs(const std::string& name, const wire::PcKey& key) {
  WireClient pc("127.0.0.2", 2005, "127.0.0.7");
  if (const auto info = pc.Hello(name, wire::kVersionMajor, key)) return "greeted by " + info->name;
  const uint32_t refusal = pc.helloRefusal();
  return "refused with " + std::to_string(refusal) + (pc.WaitClosed() ? ", closed" : ", open");
}

}  // namespace

// The attack that once worked: a second PC names PC-A in its Hello to eject, unlock and unlink
// PC-A's locked storage and lock it for itself. The name's pinned key keeps it out, also after
// hubd restarts, until an administrator re-pins the name for a replaced PC.
TEST_F(Hubd, AnotherPcCannotPoseAsTheOwnerAcrossRestartsUntilRePinned) {
  const wire::PcKey owner = TestKeyFor("PC-A");
  const wire::PcKey impostor = TestKeyFor("IMPOSTOR");
  auto a = Pc("PC-A", "127.0.0.5");
  ASSERT_EQ(ResultOf(a->Call(MsgType::Link, 10, Cmd(MsgType::Link, 2)).back()), 0u);
  ASSERT_EQ(ResultOf(a->Call(MsgType::Lock, 11, Cmd(MsgType::Lock, 2, 2, 600)).back()), 0u);
  EXPECT_EQ(HelloAs("PC-A", impostor), "refused with 5, closed");
  EXPECT_TRUE(hubd->WaitForOutput("not the one pinned for that name", kDeadline));
  const auto list = ListOf(a->Call(MsgType::GetDevices, 12).back());
  EXPECT_EQ(list.at(1).owner, "PC-A");
  EXPECT_EQ(list.at(1).lockCount, 1);

  hubd->Stop();
  hubd = Start("127.0.0.2", {});
  ASSERT_TRUE(hubd->WaitForOutput("hubd: ready", kDeadline)) << hubd->Output();
  EXPECT_EQ(HelloAs("PC-A", impostor), "refused with 5, closed") << "the pin outlasts a restart";
  EXPECT_EQ(HelloAs("PC-A", owner), "greeted by HUB-ONE");

  // The administrator re-pins PC-A, replaced by a machine with a new key: its line goes.
  const std::string pins = config + ".pins";
  std::ifstream in(pins);
  std::string line, kept;
  while (std::getline(in, line))
    if (!line.ends_with(" PC-A")) kept += line + "\n";
  WriteTextFile(pins, kept);
  hubd->Signal(SIGHUP);
  ASSERT_TRUE(hubd->WaitForOutput("pins reloaded", kDeadline)) << hubd->Output();
  const wire::PcKey replacement = TestKeyFor("PC-A's new machine");
  EXPECT_EQ(HelloAs("PC-A", replacement), "greeted by HUB-ONE") << "the new machine pins its key";
  EXPECT_EQ(HelloAs("PC-A", owner), "refused with 5, closed");
}
