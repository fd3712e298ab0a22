// SPDX-License-Identifier: GPL-2.0-or-later
// The network-ready rule, the self-test's send and receive rules, the bind rules and the
// firewall's trace lines, over scripted services: the faults they react to (a lost datagram, a
// failing send, a refused Add, a host name mapped to 127.0.1.1) cannot be made on demand with the
// real ones.
#include <gtest/gtest.h>

#include "tests/support/Command.h"

#include <cstdio>
#include <deque>
#include <optional>
#include <string>

#include "host/Firewall.h"
#include "host/HostChecks.h"

using namespace tessaro;

namespace {

struct Event {
  HostNetwork::ReceiveStatus status;
  std::string bytes;
};

Event Got(std::string bytes) { return {HostNetwork::ReceiveStatus::Datagram, std::move(bytes)}; }
const Event kTimeout{HostNetwork::ReceiveStatus::TimedOut, {}};
const Event kError{HostNetwork::ReceiveStatus::Failed, {}};
const std::string kEcho("test_udp\0", 9);

class ScriptedNetwork : public HostNetwork {
 public:
  std::vector<AdapterFacts> adapters;
  std::deque<Event> script;  // receive outcomes; timeouts once it runs out
  bool endlessForeignDatagrams = false;
  bool sendFails = false;
  int failOpenAt = -1;                         // index of the OpenBroadcastSocket call that fails
  std::optional<std::string> computerAddress;  // what the computer name resolves to
  int sends = 0, receives = 0, opens = 0, closes = 0;
  std::vector<uint16_t> openedPorts;

  std::vector<AdapterFacts> ListAdapters() override { return adapters; }
  std::string ReadRouteTable() override { return {}; }
  std::string ReadUdpTable(bool) override { return {}; }
  std::optional<std::string> ResolveIPv4(const std::string&) override { return computerAddress; }
  int OpenBroadcastSocket(const std::string&, uint16_t port,
                          std::chrono::milliseconds timeout) override {
    EXPECT_EQ(timeout.count(), 700);
    if (opens++ == failOpenAt) return -1;
    openedPorts.push_back(port);
    return 100 + opens;
  }
  bool SendBroadcast(int, const uint8_t* data, size_t size, uint16_t port) override {
    ++sends;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), size), kEcho);
    EXPECT_EQ(port, 9303);
    return !sendFails;
  }
  ReceiveStatus Receive(int, uint8_t* buffer, size_t capacity, size_t& received) override {
    ++receives;
    Event e = kTimeout;
    if (endlessForeignDatagrams)
      e = Got("hubd discovery reply");
    else if (!script.empty())
      e = script.front(), script.pop_front();
    received = std::min(e.bytes.size(), capacity);
    std::copy_n(e.bytes.begin(), received, buffer);
    return e.status;
  }
  void CloseSocket(int) override { ++closes; }
};

AdapterFacts Ethernet(int i) {
  return {"eth" + std::to_string(i), "1\n", "00:1c:f0:aa:0b:0" + std::to_string(i) + "\n",
          "10.0.0." + std::to_string(i + 1)};
}

}  // namespace

TEST(NetworkReady, AnyLoopbackAddressOfTheComputerNameMeansNotReady) {
  struct Case {
    std::optional<std::string> address;
    bool ready;
  } cases[] = {
      {std::nullopt, false},                             // the name does not resolve
      {"127.0.0.1", false},       {"127.0.1.1", false},  // what Debian maps the host name to
      {"127.255.255.254", false}, {"128.0.0.1", true},  {"10.0.0.1", true}, {"192.168.1.127", true},
  };
  for (const auto& c : cases) {
    ScriptedNetwork net;
    net.computerAddress = c.address;
    EXPECT_EQ(HostChecks(net).NetworkReady(), c.ready) << c.address.value_or("no address");
  }
}

TEST(SelfTest, ReceiveRules) {
  struct Case {
    const char* what;
    std::vector<Event> script;
    bool sendFails;
    bool foreverForeign;
    bool passes;
    int sends;
    int receives;
  } cases[] = {
      {"echo at once", {Got(kEcho)}, false, false, true, 1, 1},
      {"a foreign datagram is skipped", {Got("hello"), Got(kEcho)}, false, false, true, 1, 2},
      {"longer datagram with the right start", {Got(kEcho + "tail")}, false, false, true, 1, 1},
      {"eight bytes are not the datagram", {Got("test_udp")}, false, false, false, 3, 7},
      {"one time-out does not end the cycle", {kTimeout, Got(kEcho)}, false, false, true, 1, 2},
      {"echo in the second cycle", {kTimeout, kTimeout, Got(kEcho)}, false, false, true, 2, 3},
      {"nothing comes back", {}, false, false, false, 3, 6},
      {"a receive error ends the cycle at once",
       {kError, kError, kError},
       false,
       false,
       false,
       3,
       3},
      {"a failed send is not a firewall", {}, true, false, true, 1, 0},
      {"a flood of foreign datagrams ends each cycle", {}, false, true, false, 3, 3000},
  };
  for (const auto& c : cases) {
    ScriptedNetwork net;
    net.adapters = {Ethernet(0)};
    net.script.assign(c.script.begin(), c.script.end());
    net.sendFails = c.sendFails;
    net.endlessForeignDatagrams = c.foreverForeign;
    HostChecks checks(net);
    checks.PrepareNetworkCheck();
    ASSERT_TRUE(checks.BindTestSockets(false)) << c.what;
    EXPECT_EQ(checks.UdpLoopbackTest(), c.passes) << c.what;
    EXPECT_EQ(net.sends, c.sends) << c.what;
    EXPECT_EQ(net.receives, c.receives) << c.what;
  }
}

TEST(SelfTest, WithoutSocketsItFailsWithoutSending) {
  ScriptedNetwork net;
  HostChecks checks(net);
  EXPECT_FALSE(checks.UdpLoopbackTest());
  EXPECT_EQ(net.sends, 0);
}

TEST(BindTestSockets, OneSocketPerAdapterOnTheTestPortOrAnyPort) {
  for (const bool anyPort : {false, true}) {
    ScriptedNetwork net;
    net.adapters = {Ethernet(0), {"lo", "772\n", "00:00:00:00:00:00\n", "127.0.0.1"}, Ethernet(1)};
    HostChecks checks(net);
    checks.PrepareNetworkCheck();
    EXPECT_EQ(checks.InterfaceTable(), (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
    ASSERT_TRUE(checks.BindTestSockets(anyPort));
    const uint16_t port = anyPort ? 0 : 9303;
    EXPECT_EQ(net.openedPorts, (std::vector<uint16_t>{port, port}));
    checks.StopSockets();
    EXPECT_EQ(net.closes, 2) << "nothing stays open after the sockets stop";
    EXPECT_EQ(checks.OpenTestSocketCount(), 0u);
  }
}

TEST(BindTestSockets, AFailureKeepsEarlierSocketsAndAnEmptyTableBindsNothing) {
  ScriptedNetwork net;
  net.adapters = {Ethernet(0), Ethernet(1), Ethernet(2)};
  net.failOpenAt = 1;
  HostChecks checks(net);
  checks.PrepareNetworkCheck();
  EXPECT_FALSE(checks.BindTestSockets(false));
  EXPECT_EQ(net.opens, 2) << "the third adapter is not tried";
  EXPECT_EQ(checks.OpenTestSocketCount(), 1u);
  checks.CloseTestSockets();
  EXPECT_EQ(net.closes, 1);

  ScriptedNetwork none;
  none.adapters = {{"eth0", "1\n", "00:1c:f0:aa:0b:07\n", "0.0.0.0"}};
  HostChecks empty(none);
  empty.PrepareNetworkCheck();
  EXPECT_TRUE(empty.InterfaceTable().empty());
  EXPECT_FALSE(empty.BindTestSockets(false));
  EXPECT_EQ(none.opens, 0);
}

TEST(BindTestSockets, ABindAfterAnotherNeverLeavesTheFirstSocketsOpen) {
  ScriptedNetwork net;
  net.adapters = {Ethernet(0), Ethernet(1)};
  net.failOpenAt = 1;
  HostChecks checks(net);
  checks.PrepareNetworkCheck();
  EXPECT_FALSE(checks.BindTestSockets(false));
  checks.PrepareNetworkCheck();
  EXPECT_TRUE(checks.BindTestSockets(true));
  EXPECT_EQ(net.closes, 1) << "the socket of the failed attempt was closed, not lost";
  EXPECT_EQ(checks.OpenTestSocketCount(), 2u);
}

namespace {

class ScriptedFirewall : public Firewall {
 public:
  uint32_t connect = 0, profile = 0, add = 0;
  Entry entry;
  int adds = 0;
  uint32_t Connect() override { return connect; }
  uint32_t OpenProfile() override { return profile; }
  Entry FindPort(long, int) override { return entry; }
  Entry FindApplication(const std::string&) override { return entry; }
  uint32_t AddPort(long, int, const std::string&) override { return ++adds, add; }
  uint32_t AddApplication(const std::string&, const std::string&) override { return ++adds, add; }
};

}  // namespace

TEST(Firewall, TraceLinesAndAnswers) {
  struct Case {
    const char* what;
    uint32_t connect, profile;
    Firewall::Entry entry;
    uint32_t add;
    const char* name;
    bool ok;
    int adds;
    const char* portTrace;
    const char* appTrace;
  } cases[] = {
      {"no firewall service",
       Firewall::kClassNotRegistered,
       0,
       {},
       0,
       "N",
       false,
       0,
       "CoCreateInstance failed: 0x80040154\n",
       "CoCreateInstance failed: 0x80040154\n"},
      {"service not running",
       0,
       Firewall::kServiceNotRunning,
       {},
       0,
       "N",
       false,
       0,
       "get_LocalPolicy failed: 0x800706d9\n",
       "get_LocalPolicy failed: 0x800706d9\n"},
      {"already let in",
       0,
       0,
       {0, true, true},
       0,
       "N",
       true,
       0,
       "Port 9303 is open in the firewall.\n",
       "Authorized application /opt/t/app is enabled in the firewall.\n"},
      {"missing, added",
       0,
       0,
       {0, false, false},
       0,
       "N",
       true,
       1,
       "Port 9303 is not open in the firewall.\nPort 9303 is now open in the firewall.\n",
       "Authorized application /opt/t/app is disabled in the firewall.\n"
       "Authorized application /opt/t/app is now enabled in the firewall.\n"},
      {"disabled entry is added again",
       0,
       0,
       {0, true, false},
       0,
       "N",
       true,
       1,
       "Port 9303 is not open in the firewall.\nPort 9303 is now open in the firewall.\n",
       "Authorized application /opt/t/app is disabled in the firewall.\n"
       "Authorized application /opt/t/app is now enabled in the firewall.\n"},
      {"add refused",
       0,
       0,
       {},
       Firewall::kAccessDenied,
       "N",
       false,
       1,
       "Port 9303 is not open in the firewall.\nAdd failed: 0x80070005\n"
       "WindowsFirewallPortAdd failed: 0x80070005\n",
       "Authorized application /opt/t/app is disabled in the firewall.\n"
       "Add failed: 0x80070005\nWindowsFirewallAddApp failed: 0x80070005\n"},
      {"empty name",
       0,
       0,
       {},
       0,
       "",
       false,
       0,
       "Port 9303 is not open in the firewall.\nSysAllocString failed: 0x8007000e\n"
       "WindowsFirewallPortAdd failed: 0x8007000e\n",
       "Authorized application /opt/t/app is disabled in the firewall.\n"
       "SysAllocString failed: 0x8007000e\nWindowsFirewallAddApp failed: 0x8007000e\n"},
      {"look-up fails",
       0,
       0,
       {Firewall::kFailed, false, false},
       0,
       "N",
       false,
       0,
       "get_GloballyOpenPorts failed: 0x80004005\n"
       "WindowsFirewallPortIsEnabled failed: 0x80004005\n"
       "WindowsFirewallPortAdd failed: 0x80004005\n",
       "get_AuthorizedApplications failed: 0x80004005\n"
       "WindowsFirewallAppIsEnabled failed: 0x80004005\n"
       "WindowsFirewallAddApp failed: 0x80004005\n"},
  };
  for (const auto& c : cases) {
    ScriptedFirewall fw;
    fw.connect = c.connect;
    fw.profile = c.profile;
    fw.entry = c.entry;
    fw.add = c.add;
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(OpenFirewallPort(fw, 9303, kProtocolUdp, c.name, out), c.ok) << c.what;
    EXPECT_EQ(tessaro::testing::ReadAndClose(out), c.portTrace) << c.what;
    EXPECT_EQ(fw.adds, c.adds) << c.what;

    ScriptedFirewall app = fw;
    app.adds = 0;
    out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(AuthorizeApplication(app, "/opt/t/app", c.name, out), c.ok) << c.what;
    EXPECT_EQ(tessaro::testing::ReadAndClose(out), c.appTrace) << c.what;
    EXPECT_EQ(app.adds, c.adds) << c.what;
  }
}
