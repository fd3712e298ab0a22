// SPDX-License-Identifier: GPL-2.0-or-later
// The host checks on real interfaces, routes, sockets and firewall rules. Each case runs in its
// own network namespace (only loopback up); where it needs an adapter it joins a second namespace
// by a veth pair, so every broadcast stays between the two.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "host/Firewall.h"
#include "host/HostChecks.h"
#include "platform/linux/FirewalldFirewall.h"
#include "platform/linux/LinuxHostNetwork.h"
#include "tests/support/Command.h"
#include "tests/support/Process.h"

using namespace tessaro;
using namespace tessaro::testing;

namespace {

constexpr const char* kPcAddress = "10.205.0.1";
constexpr const char* kPeerAddress = "10.205.0.2";

std::string NetNsOf(const std::string& pid) {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/" + pid + "/ns/net", ec).string();
}

bool RunOk(const std::string& program, const std::vector<std::string>& args) {
  const auto r = RunCommand(program, args);
  if (r.exitCode != 0) ADD_FAILURE() << program << " failed: " << r.err;
  return r.exitCode == 0;
}

// A second namespace held by a sleeping process, joined to ours by the veth pair thpc/thpeer.
class PeerNetwork {
 public:
  PeerNetwork() : holder_("/usr/bin/unshare", {"-n", "sleep", "600"}) {}

  bool Create() {
    if (!holder_.Start()) return false;
    pid_ = std::to_string(holder_.pid());
    const std::string mine = NetNsOf("self");
    if (!Eventually([&] { return !NetNsOf(pid_).empty() && NetNsOf(pid_) != mine; })) return false;
    return RunOk("/usr/sbin/ip",
                 {"link", "add", "thpc", "type", "veth", "peer", "name", "thpeer"}) &&
           RunOk("/usr/sbin/ip", {"link", "set", "thpeer", "netns", pid_}) &&
           RunOk("/usr/sbin/ip",
                 {"addr", "add", std::string(kPcAddress) + "/24", "brd", "+", "dev", "thpc"}) &&
           RunOk("/usr/sbin/ip", {"link", "set", "thpc", "up"}) &&
           Inside({"ip", "addr", "add", std::string(kPeerAddress) + "/24", "brd", "+", "dev",
                   "thpeer"}) &&
           Inside({"ip", "link", "set", "thpeer", "up"});
  }

 private:
  bool Inside(const std::vector<std::string>& argv) const {
    std::vector<std::string> all = {"-t", pid_, "-n", "--"};
    all.insert(all.end(), argv.begin(), argv.end());
    return RunOk("/usr/bin/nsenter", all);
  }
  Process holder_;
  std::string pid_;
};

// A UDP socket bound to the loopback address and `port` of the given family (0: any port).
struct BoundSocket {
  int fd = -1;
  uint16_t port = 0;
  BoundSocket(int family, uint16_t wanted) {
    fd = ::socket(family, SOCK_DGRAM, 0);
    sockaddr_storage ss{};
    socklen_t len = 0;
    if (family == AF_INET) {
      auto* in = reinterpret_cast<sockaddr_in*>(&ss);
      in->sin_family = AF_INET;
      in->sin_port = htons(wanted);
      in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      len = sizeof *in;
    } else {
      const int on = 1;
      ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
      auto* in6 = reinterpret_cast<sockaddr_in6*>(&ss);
      in6->sin6_family = AF_INET6;
      in6->sin6_port = htons(wanted);
      in6->sin6_addr = in6addr_loopback;
      len = sizeof *in6;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0) return;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len);
    port = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in*>(&ss)->sin_port
                                   : reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port);
  }
  ~BoundSocket() {
    if (fd >= 0) ::close(fd);
  }
};

// Drops inbound UDP 9303 in this namespace; false when no firewall tool is at hand.
bool DropSelfTestPort(std::string& why) {
  if (std::filesystem::exists("/usr/sbin/nft")) {
    return RunOk("/usr/sbin/nft", {"add", "table", "inet", "hostcheck"}) &&
           RunOk("/usr/sbin/nft", {"add", "chain", "inet", "hostcheck", "input",
                                   "{ type filter hook input priority 0; }"}) &&
           RunOk("/usr/sbin/nft",
                 {"add", "rule", "inet", "hostcheck", "input", "udp", "dport", "9303", "drop"});
  }
  if (std::filesystem::exists("/usr/sbin/iptables")) {
    return RunOk("/usr/sbin/iptables",
                 {"-A", "INPUT", "-p", "udp", "--dport", "9303", "-j", "DROP"});
  }
  why = "neither nft nor iptables is installed";
  return false;
}

}  // namespace

TEST(HostNetwork, OnlyLoopbackMeansNoAdapterAndNoBind) {
  LinuxHostNetwork net;
  HostChecks checks(net);
  checks.PrepareNetworkCheck();
  EXPECT_TRUE(checks.InterfaceTable().empty());
  EXPECT_FALSE(checks.BindTestSockets(false));
  EXPECT_TRUE(checks.FindDefaultGateways().empty());
}

TEST(HostNetwork, VethAdapterQualifiesAndItsGatewayIsFound) {
  PeerNetwork peer;
  ASSERT_TRUE(peer.Create());
  LinuxHostNetwork net;
  HostChecks checks(net);
  checks.PrepareNetworkCheck();
  EXPECT_EQ(checks.InterfaceTable(), (std::vector<std::string>{kPcAddress}));
  EXPECT_EQ(checks.FindDefaultGateways(), (std::vector<std::string>{""})) << "no default route";
  ASSERT_TRUE(RunOk("/usr/sbin/ip", {"route", "add", "default", "via", kPeerAddress}));
  EXPECT_EQ(checks.FindDefaultGateways(), (std::vector<std::string>{kPeerAddress}));
}

TEST(HostNetwork, SelfTestGetsItsBroadcastBack) {
  PeerNetwork peer;
  ASSERT_TRUE(peer.Create());
  LinuxHostNetwork net;
  HostChecks checks(net);
  checks.PrepareNetworkCheck();
  ASSERT_TRUE(checks.BindTestSockets(false));
  EXPECT_TRUE(checks.UdpPortInUse(9303));
  EXPECT_TRUE(checks.UdpLoopbackTest());
  checks.StopSockets();
  EXPECT_FALSE(checks.UdpPortInUse(9303));
}

TEST(HostNetwork, SelfTestFailsWhenTheFirewallDropsItsPort) {
  PeerNetwork peer;
  ASSERT_TRUE(peer.Create());
  std::string why;
  if (!DropSelfTestPort(why)) {
    if (!why.empty()) GTEST_SKIP() << why;
    FAIL() << "the drop rule could not be added";
  }
  LinuxHostNetwork net;
  HostChecks checks(net);
  checks.PrepareNetworkCheck();
  ASSERT_TRUE(checks.BindTestSockets(false));
  EXPECT_FALSE(checks.UdpLoopbackTest());
}

TEST(HostNetwork, PortTakenByAnotherProgramLeadsToSystemChosenPorts) {
  PeerNetwork peer;
  ASSERT_TRUE(peer.Create());
  // Bound without address sharing, as a program that owns the port would.
  const int other = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_port = htons(9303);
  ASSERT_EQ(::bind(other, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
  LinuxHostNetwork net;
  HostChecks checks(net);
  checks.PrepareNetworkCheck();
  EXPECT_FALSE(checks.BindTestSockets(false));
  EXPECT_TRUE(checks.UdpPortInUse(9303));
  checks.PrepareNetworkCheck();
  EXPECT_TRUE(checks.BindTestSockets(true));
  EXPECT_EQ(checks.OpenTestSocketCount(), 1u);
  ::close(other);
}

TEST(HostNetwork, UdpPortInUseSeesIPv4AndIPv6EndpointsAndNotAFreedPort) {
  LinuxHostNetwork net;
  HostChecks checks(net);
  const BoundSocket v4(AF_INET, 0), v6(AF_INET6, 0);
  ASSERT_NE(v4.port, 0);
  ASSERT_NE(v6.port, 0);
  EXPECT_TRUE(checks.UdpPortInUse(v4.port));
  EXPECT_TRUE(checks.UdpPortInUse(v6.port)) << "an endpoint only in the IPv6 table";
  uint16_t freed = 0;
  {
    const BoundSocket gone(AF_INET, 0);
    freed = gone.port;
  }
  ASSERT_NE(freed, 0);
  EXPECT_FALSE(checks.UdpPortInUse(freed));
}

TEST(HostNetwork, NetworkReadyResolvesTheComputerName) {
  struct Case {
    const char* name;
    bool ready;
  } cases[] = {{"localhost", false},
               {"127.0.1.1", false},
               {"10.205.0.1", true},
               {"no-such-pc.invalid", false}};
  LinuxHostNetwork net;
  HostChecks checks(net);
  for (const auto& c : cases) {
    ::setenv("TESSARO_COMPUTERNAME", c.name, 1);
    EXPECT_EQ(checks.NetworkReady(), c.ready) << c.name;
  }
  ::unsetenv("TESSARO_COMPUTERNAME");
}

TEST(Firewalld, WithoutASystemBusBothAnswerFalse) {
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/tessaro-bus", 1);
  FirewalldFirewall fw;
  std::FILE* out = std::tmpfile();
  EXPECT_FALSE(OpenFirewallPort(fw, 9303, kProtocolUdp, "Tessaro Utility UDP Port", out));
  EXPECT_FALSE(AuthorizeApplication(fw, "/opt/tessaro/tessaro-utility", "Tessaro Utility", out));
  EXPECT_EQ(tessaro::testing::ReadAndClose(out),
            "CoCreateInstance failed: 0x80040154\nCoCreateInstance failed: 0x80040154\n");
  ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

TEST(Firewalld, OnABusWithoutFirewalldBothAnswerFalse) {
  if (!std::filesystem::exists("/usr/bin/dbus-daemon")) GTEST_SKIP() << "no dbus-daemon";
  TempDir dir;
  const std::string socketPath = dir / "bus";
  WriteTextFile(
      dir / "bus.conf",
      "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
      " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
      "<busconfig><type>system</type><listen>unix:path=" +
          socketPath +
          "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
          "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
          "<allow own=\"*\"/><allow user=\"*\"/></policy></busconfig>\n");
  Process bus("/usr/bin/dbus-daemon", {"--config-file=" + (dir / "bus.conf"), "--nofork"});
  ASSERT_TRUE(bus.Start());
  ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(socketPath); })) << bus.Output();
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + socketPath).c_str(), 1);
  FirewalldFirewall fw;
  std::FILE* out = std::tmpfile();
  EXPECT_FALSE(OpenFirewallPort(fw, 9303, kProtocolUdp, "Tessaro Utility UDP Port", out));
  EXPECT_FALSE(AuthorizeApplication(fw, "/opt/tessaro/tessaro-utility", "Tessaro Utility", out));
  EXPECT_EQ(tessaro::testing::ReadAndClose(out),
            "get_LocalPolicy failed: 0x800706d9\nget_LocalPolicy failed: 0x800706d9\n");
  ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

// A busctl that records each call's arguments and answers as a firewalld with port 9303 closed
// would: no bus is needed to see what every call asks for.
TEST(Firewalld, NoCallMayPromptForAPasswordOrWaitLong) {
  TempDir dir;
  const std::string log = dir / "calls";
  WriteTextFile(dir / "busctl",
                "#!/bin/sh\n"
                "printf '%s\\n' \"$@\" -- >> '" +
                    log +
                    "'\n"
                    "case \"$*\" in\n"
                    "  *NameHasOwner*) echo 'b true' ;;\n"
                    "  *getDefaultZone*) echo 's \"public\"' ;;\n"
                    "  *queryPort*) echo 'b false' ;;\n"
                    "esac\n");
  ASSERT_EQ(::chmod((dir / "busctl").c_str(), 0755), 0);
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", dir.path().c_str(), 1);
  FirewalldFirewall fw;
  std::FILE* out = std::tmpfile();
  EXPECT_TRUE(OpenFirewallPort(fw, 9303, kProtocolUdp, "Tessaro Utility UDP Port", out));
  EXPECT_TRUE(AuthorizeApplication(fw, "/opt/tessaro/tessaro-utility", "Tessaro Utility", out));
  ::setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(tessaro::testing::ReadAndClose(out),
            "Port 9303 is not open in the firewall.\nPort 9303 is now open in the firewall.\n"
            "Authorized application /opt/tessaro/tessaro-utility is enabled in the firewall.\n");

  std::ifstream calls(log);
  std::vector<std::vector<std::string>> recorded(1);
  for (std::string arg; std::getline(calls, arg);) {
    if (arg == "--")
      recorded.emplace_back();
    else
      recorded.back().push_back(arg);
  }
  recorded.pop_back();
  ASSERT_EQ(recorded.size(), 6u) << "look-up, zone, query and add; look-up and zone";
  for (const auto& call : recorded) {
    const auto has = [&](const std::string& a) {
      return std::find(call.begin(), call.end(), a) != call.end();
    };
    EXPECT_TRUE(has("--allow-interactive-authorization=no")) << call.back();
    const auto timeout = std::find_if(call.begin(), call.end(), [](const std::string& a) {
      return a.rfind("--timeout=", 0) == 0;
    });
    ASSERT_NE(timeout, call.end()) << call.back() << ": the bus's own 25 s otherwise";
    const int seconds = std::atoi(timeout->c_str() + std::strlen("--timeout="));
    EXPECT_GE(seconds, 1) << *timeout;
    EXPECT_LE(seconds, 5) << *timeout;
  }
}
