// SPDX-License-Identifier: GPL-2.0-or-later
// The real tessaro-busd finding servers by broadcast, and against the real tessaro-hubd; busd's
// discovery against forged replies.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "busd/Discovery.h"
#include "busd/ServerRegistry.h"
#include "tests/busd/BusdProcessFixture.h"

using namespace tessaro;
using namespace tessaro::busd_process;

namespace {

// busd with discovery on and no configured server; the test answers its broadcasts.
class BusdDiscovery : public BusdProcess {
 protected:
  std::vector<std::string> BusdArguments() const override { return {}; }
};

// Waits for one Discover on the discovery port and answers it as a server on 127.0.0.2 named
// `name` would.
bool AnswerOneDiscover(const std::string& name) {
  UniqueFd listen(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  const int on = 1;
  ::setsockopt(listen.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  timeval tv{20, 0};
  ::setsockopt(listen.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_port = htons(wire::kDiscoveryPort);
  if (::bind(listen.get(), reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) return false;
  uint8_t buffer[2048];
  sockaddr_in from{};
  socklen_t fromLength = sizeof from;
  const ssize_t n = ::recvfrom(listen.get(), buffer, sizeof buffer, 0,
                               reinterpret_cast<sockaddr*>(&from), &fromLength);
  if (n <= 0) return false;
  const auto frame = wire::DecodeDatagram({buffer, static_cast<size_t>(n)});
  if (!frame || frame->type != wire::MsgType::Discover || !wire::DecodeVersionProbe(frame->payload))
    return false;
  wire::ServerInfo info;
  info.name = name;
  info.tcpPort = 2005;
  UniqueFd reply(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in self{};
  self.sin_family = AF_INET;
  self.sin_addr.s_addr = kHubIp;
  ::bind(reply.get(), reinterpret_cast<sockaddr*>(&self), sizeof self);
  const auto bytes =
      wire::EncodeFrame({wire::MsgType::DiscoverReply, 0, frame->id, wire::EncodeServerInfo(info)});
  return ::sendto(reply.get(), bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&from),
                  sizeof from) == static_cast<ssize_t>(bytes.size());
}

}  // namespace

TEST_F(BusdDiscovery, NewAddressIsAnnouncedAndBroadcastFindsAServer) {
  RawBus trunk(TrunkPath());
  RawBus reader(TrunkPath());
  RegisterReader(reader);
  EXPECT_EQ(ServerList(trunk).at(4), 0);
  // A broadcast-capable interface of this namespace only (a veth pair whose ends both stay here).
  if (std::system("ip link add tv0 type veth peer name tv1 && "
                  "ip addr add 10.9.0.1/24 brd + dev tv0 && ip link set tv1 up && "
                  "ip link set tv0 up") != 0)
    GTEST_SKIP() << "cannot create a veth pair here";
  EXPECT_TRUE(ReadUntil(reader, [](const auto& r) { return r.size() == 16 && r[0] == 3; }));
  // A name with a line break of its own: the log keeps it on the line of its event.
  ASSERT_TRUE(AnswerOneDiscover("FOUND\nHUB"));
  ASSERT_TRUE(WaitForList(trunk, 1, 1));
  EXPECT_TRUE(busd_->WaitForOutput("found server 127.0.0.2 (FOUND\\x0AHUB)", kDeadline))
      << busd_->Output();
  EXPECT_EQ(busd_->Output().find("\nHUB"), std::string::npos) << busd_->Output();
  EXPECT_EQ(GetU32(&ServerList(trunk).at(8)), kHubIp);
  // First named by its DiscoverReply, then by the HelloReply on the connection busd opened.
  EXPECT_TRUE(WaitFor([&] {
    const auto list = ServerList(trunk);
    return list.size() > 30 && std::string(reinterpret_cast<const char*>(&list[30])) == "FAKE-HUB";
  }));
  EXPECT_TRUE(ReadUntil(reader, [](const auto& r) { return r.size() == 16 && r[0] == 2; }));
  EXPECT_EQ(hub_->helloName(), "PC-A");
}

namespace {

// busd against the project's own device server, when it is built: the two sides of the wire
// written apart must agree.
class BusdWithRealHub : public BusdProcess {
 protected:
  std::vector<std::string> BusdArguments() const override {
    return {"--server", "127.0.0.3", "--no-discovery"};
  }
  void TearDown() override {
    hubd_.reset();
    BusdProcess::TearDown();
  }
  bool StartHubd() {
    const std::string binary = std::string(tessaro::testing::kBinaryDir) + "/hubd/tessaro-hubd";
    if (::access(binary.c_str(), X_OK) != 0) return false;
    const std::string config = runtime_ + "/hubd.ini";
    tessaro::testing::WriteTextFile(
        config,
        "[server]\nname = REAL-HUB\nport = 2005\nmac = 02:00:00:00:00:03\n"
        "[device 1]\ntype = PRINTER\nvendor-id = 04F9\nproduct-id = 0042\n"
        "manufacturer = Maker\nproduct = LaserOne\nserial = SN1\n");
    hubd_ = std::make_unique<tessaro::testing::Process>(
        binary, std::vector<std::string>{"--config", config, "--address", "127.0.0.3"});
    return hubd_->Start();
  }
  std::unique_ptr<tessaro::testing::Process> hubd_;
};

}  // namespace

TEST_F(BusdWithRealHub, AttachListAndLinkThroughTheRealServer) {
  if (!StartHubd()) GTEST_SKIP() << "tessaro-hubd is not built";
  RawBus trunk(TrunkPath());
  ASSERT_TRUE(WaitForList(trunk, 1, 1));
  const auto list = ServerList(trunk);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&list.at(30))), "REAL-HUB");
  ASSERT_EQ(trunk.Call(code::kAttachServer, {127, 0, 0, 3}).status, 0u);
  ASSERT_TRUE(WaitFor([this] { return RawBus(SpurPath(0)).valid(); }));
  RawBus spur(SpurPath(0));
  EXPECT_EQ(spur.Call(code::kLinkDevice, {1}, 1).status, 0u);
  const auto devices = spur.Call(code::kGetDeviceList, {}, 2048).output;
  ASSERT_GE(devices.size(), 8u + 27);
  EXPECT_EQ(devices[4], 1);
  EXPECT_EQ(GetU32(&devices[8 + 11]), 4u);  // the owner is "PC-A"
  EXPECT_EQ(spur.Call(code::kLinkDevice, {99}, 1).status, 1168u);
}

namespace {

class NoEvents : public busd::RegistryEvents {
 public:
  void PublishEvent(const std::vector<uint8_t>&) override {}
  void SpurReady(uint32_t) override {}
  void DevicesReported(uint32_t, const std::vector<wire::DeviceInfo>&) override {}
  void LinkRequested(uint32_t, uint8_t) override {}
  void LinkAnswered(uint32_t, uint8_t, bool) override {}
};

// A socket on `ip`, sending DiscoverReply datagrams from there.
void SendReply(uint32_t ip, const sockaddr_in& to, uint32_t id) {
  UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in self{};
  self.sin_family = AF_INET;
  self.sin_addr.s_addr = ip;
  ASSERT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&self), sizeof self), 0);
  wire::ServerInfo info;
  info.name = "FLOOD";
  const auto bytes =
      wire::EncodeFrame({wire::MsgType::DiscoverReply, 0, id, wire::EncodeServerInfo(info)});
  ASSERT_EQ(::sendto(fd.get(), bytes.data(), bytes.size(), 0,
                     reinterpret_cast<const sockaddr*>(&to), sizeof to),
            static_cast<ssize_t>(bytes.size()));
}

}  // namespace

// busd's discovery and server list in this process, against datagrams from many addresses.
TEST(DiscoveryFlood, RepliesMustEchoOurIdAndDiscoveredServersAreCapped) {
  UniqueFd port(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  timeval tv{20, 0};
  ::setsockopt(port.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  sockaddr_in self{};
  self.sin_family = AF_INET;
  self.sin_addr.s_addr = ::inet_addr("127.0.0.1");
  socklen_t length = sizeof self;
  ASSERT_EQ(::bind(port.get(), reinterpret_cast<sockaddr*>(&self), sizeof self), 0);
  ASSERT_EQ(::getsockname(port.get(), reinterpret_cast<sockaddr*>(&self), &length), 0);

  NoEvents events;
  const wire::PcKey key = wire::PcKey::FromSeed(wire::KeySeed{5});
  const Logger log("busd", StderrLogSink());
  busd::ServerRegistry registry(events, "PC-A", key, std::chrono::seconds(60), log);
  const uint32_t configured = ::inet_addr("127.0.0.9");
  registry.AddConfigured({configured, 2005});
  busd::Discovery discovery(
      ntohs(self.sin_port),
      [&](uint32_t ip, const wire::ServerInfo& info) {
        registry.OnDiscovered(ip, info, busd::Clock::now());
      },
      log);
  ASSERT_TRUE(discovery.ok());
  discovery.Tick(busd::Clock::now(), {{::inet_addr("127.0.0.1"), ::inet_addr("127.0.0.1")}});
  uint8_t buffer[2048];
  sockaddr_in busd{};
  socklen_t busdLength = sizeof busd;
  const ssize_t n = ::recvfrom(port.get(), buffer, sizeof buffer, 0,
                               reinterpret_cast<sockaddr*>(&busd), &busdLength);
  ASSERT_GT(n, 0);
  const auto discover = wire::DecodeDatagram({buffer, static_cast<size_t>(n)});
  ASSERT_TRUE(discover && discover->type == wire::MsgType::Discover);
  const uint32_t id = discover->id;
  EXPECT_NE(id, 0u);

  // Replies from `count` addresses of 127.1/16, the receive queue drained every few of them.
  const auto flood = [&](int count, const std::function<uint32_t(int)>& idFor) {
    for (int i = 0; i < count; ++i) {
      SendReply(htonl(0x7F010000u | static_cast<uint32_t>(i + 1)), busd, idFor(i));
      if (i % 32 != 31 && i != count - 1) continue;
      busd::PollSet poll;
      discovery.AddTo(poll);
      poll.Wait(0);
    }
  };
  const auto listed = [&](uint32_t ip) {
    const auto list = registry.ServerList();
    return std::any_of(list.begin(), list.end(), [&](const auto& e) { return e.ip == ip; });
  };
  flood(3000, [&](int i) { return i % 2 == 0 ? 0u : id + 1; });
  EXPECT_TRUE(registry.ServerList().empty()) << "replies to no Discover of ours";

  SendReply(configured, busd, id);
  flood(3000, [&](int) { return id; });
  EXPECT_EQ(registry.ServerList().size(), busd::ServerRegistry::kMaxServers);
  EXPECT_TRUE(listed(configured));
  EXPECT_TRUE(listed(htonl(0x7F010001u))) << "the first found stay";
}
