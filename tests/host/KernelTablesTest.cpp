// SPDX-License-Identifier: GPL-2.0-or-later
// The readers of the kernel's tables on fixture files, and the pure rules built on them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "host/Adapters.h"
#include "host/KernelTables.h"
#include "host/WindowsVersion.h"
#include "tests/TestPaths.h"

using namespace tessaro;

namespace {

std::string Fixture(const std::string& name) {
  std::ifstream in(std::string(tessaro::testing::kFixturesDir) + "/host/" + name);
  EXPECT_TRUE(in) << name;
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace

TEST(KernelTables, RouteTableKeepsWellFormedRowsInOrderAndDecodesAddresses) {
  const auto rows = ParseRouteTable(Fixture("route"));
  ASSERT_EQ(rows.size(), 7u) << "the broken line and the row with a bad gateway are skipped";
  EXPECT_EQ(rows[0].iface, "eth0");
  EXPECT_EQ(rows[0].destination, "192.168.0.0");
  EXPECT_EQ(rows[0].mask, "255.255.255.0");
  EXPECT_EQ(rows[2].gateway, "10.0.0.1");
  EXPECT_EQ(rows[2].mask, "255.0.0.0");
  EXPECT_EQ(rows[2].flags, kRouteUp | kRouteGateway);
}

TEST(KernelTables, FirstGatewayIsTheFirstUsableDefaultRouteOfTheAdapter) {
  const auto rows = ParseRouteTable(Fixture("route"));
  struct Case {
    const char* iface;
    const char* gateway;
  } cases[] = {
      {"eth0", "192.168.0.254"},  // not the 10.0.0.0/8 route, not the later default
      {"wlan0", "192.168.1.1"},   // its first default lacks the gateway flag
      {"ppp0", ""},               // a default route that is not up
      {"lo", ""},                 // no route at all
  };
  for (const auto& c : cases) EXPECT_EQ(FirstGatewayOf(rows, c.iface), c.gateway) << c.iface;
}

TEST(KernelTables, UdpTablesYieldEveryWellFormedLocalPort) {
  EXPECT_EQ(ParseUdpLocalPorts(Fixture("udp")), (std::vector<uint16_t>{9303, 53, 65535}));
  EXPECT_EQ(ParseUdpLocalPorts(Fixture("udp6")), (std::vector<uint16_t>{5353, 546}));
  EXPECT_TRUE(ParseUdpLocalPorts("").empty());
  EXPECT_EQ(ParseUdpLocalPorts("  sl local_address\n  1: 00000000:2457"),
            (std::vector<uint16_t>{9303}))
      << "a last row without its line end still counts";
  EXPECT_TRUE(ParseUdpLocalPorts("  1: 00000000:2457 00000000:0000\n").empty())
      << "the first line is always the header";
}

TEST(KernelTables, GarbageNeverParses) {
  EXPECT_TRUE(ParseRouteTable("header\n\n\t\t\n" + std::string(500, 'x')).empty());
  EXPECT_TRUE(ParseRouteTable("h\neth0 00000000 00000000 0003 0 0 0").empty()) << "cut row";
  EXPECT_TRUE(ParseRouteTable("h\neth0 0000000 00000000 0003 0 0 0 00000000").empty())
      << "an address of seven digits";
  EXPECT_FALSE(ParseArphrd("").has_value());
  EXPECT_FALSE(ParseArphrd("-1\n").has_value());
  EXPECT_FALSE(ParseArphrd("1x\n").has_value());
  EXPECT_FALSE(ParseArphrd("99999999999999999999").has_value());
  EXPECT_EQ(ParseArphrd("801\n"), 801);
}

TEST(KernelTables, ArphrdMapsToAdapterTypes) {
  struct Case {
    int arphrd;
    int type;
  } cases[] = {{1, 6},    {772, 24}, {512, 23}, {256, 28},  {257, 28}, {774, 15}, {800, 9},
               {801, 71}, {802, 71}, {803, 71}, {65534, 1}, {776, 1},  {0, 1}};
  for (const auto& c : cases) EXPECT_EQ(AdapterTypeFromArphrd(c.arphrd), c.type) << c.arphrd;
}

TEST(KernelTables, HardwareAddressText) {
  using Bytes = std::array<uint8_t, 6>;
  struct Case {
    const char* text;
    Bytes bytes;
  } cases[] = {
      {"00:1c:f0:aa:0b:07\n", {0x00, 0x1c, 0xf0, 0xaa, 0x0b, 0x07}},
      {"00:00:00:00:00:00\n", {}},
      {"aa:bb\n", {0xaa, 0xbb, 0, 0, 0, 0}},              // shorter addresses are padded
      {"00:00:00:00:00:01:02:03\n", {0, 0, 0, 0, 0, 1}},  // only the first six count
      {"zz:bb:cc:dd:ee:ff\n", {}},
      {"100:bb:cc:dd:ee:ff\n", {}},
      {"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseHardwareAddress(c.text), c.bytes) << c.text;
}

TEST(Adapters, QualifyingRules) {
  const std::array<uint8_t, 6> mac = {0x00, 0x1c, 0xf0, 0xaa, 0x0b, 0x07};
  const std::array<uint8_t, 6> lastByteOnly = {0, 0, 0, 0, 0, 1};
  struct Case {
    const char* what;
    int type;
    std::array<uint8_t, 6> hardware;
    const char* ipv4;
    bool qualifies;
  } cases[] = {
      {"ethernet", 6, mac, "10.0.0.5", true},
      {"wireless", 71, mac, "10.0.0.5", true},
      {"unknown type counts as ethernet", 144, mac, "10.0.0.5", true},
      {"other", 1, mac, "10.0.0.5", false},
      {"token ring", 9, mac, "10.0.0.5", false},
      {"fddi", 15, mac, "10.0.0.5", false},
      {"ppp", 23, mac, "10.0.0.5", false},
      {"loopback", 24, mac, "127.0.0.1", false},
      {"slip", 28, mac, "10.0.0.5", false},
      {"no hardware address", 6, {}, "10.0.0.5", false},
      {"one non-zero byte is enough", 6, lastByteOnly, "10.0.0.5", true},
      {"no address", 6, mac, "0.0.0.0", false},
  };
  for (const auto& c : cases) {
    Adapter a{"x", c.type, c.hardware, c.ipv4};
    EXPECT_EQ(AdapterQualifies(a), c.qualifies) << c.what;
  }
}

TEST(Adapters, FactsFromTheKernelBecomeAdapters) {
  const auto wifi = AdapterFrom({"wlan0", "801\n", "00:1c:f0:aa:0b:07\n", "10.1.1.1"});
  EXPECT_EQ(wifi.type, 71);
  EXPECT_TRUE(AdapterQualifies(wifi));
  const auto tun = AdapterFrom({"tun0", "65534\n", "", "10.8.0.1"});
  EXPECT_EQ(tun.type, 1);
  EXPECT_FALSE(AdapterQualifies(tun));
  const auto unreadable = AdapterFrom({"eth9", "", "00:1c:f0:aa:0b:07\n", ""});
  EXPECT_EQ(unreadable.type, 1) << "an unreadable type is 'other'";
  EXPECT_EQ(unreadable.ipv4, "0.0.0.0");
}

TEST(Adapters, OnlyTheFirstTenQualifyingAdaptersCountInTheirOrder) {
  std::vector<Adapter> all;
  for (int i = 0; i < 12; ++i) {
    all.push_back(
        {"eth" + std::to_string(i), 6, {0, 0, 0, 0, 0, 1}, "10.0.0." + std::to_string(i + 1)});
    if (i == 3) all.push_back({"ppp0", 23, {0, 0, 0, 0, 0, 1}, "10.9.9.9"});
  }
  const auto chosen = QualifyingAdapters(all);
  ASSERT_EQ(chosen.size(), 10u);
  for (size_t i = 0; i < chosen.size(); ++i) EXPECT_EQ(chosen[i].name, "eth" + std::to_string(i));
}

TEST(WindowsVersion, BitsPerVersion) {
  struct Case {
    const char* version;
    uint32_t flags;
  } cases[] = {{"5.0", 10}, {"5.1", 2}, {"5.2", 2},  {"6.0", 3}, {"6.1", 3},
               {"4.0", 4},  {"4.1", 0}, {"3.51", 0}, {"10.0", 0}};
  for (const auto& c : cases) {
    const auto v = ParseWindowsVersion(c.version);
    ASSERT_TRUE(v.has_value()) << c.version;
    EXPECT_EQ(VersionFlagsFor(*v), c.flags) << c.version;
  }
  for (const char* bad : {"", "6", "6.", ".1", "6.1.2", "a.b", "-6.1", "600.1"})
    EXPECT_FALSE(ParseWindowsVersion(bad).has_value()) << bad;
}

TEST(WindowsVersion, SettingThenVariableThenDefault) {
  struct Case {
    const char* setting;
    const char* variable;  // nullptr: unset
    uint32_t flags;
  } cases[] = {
      {"", nullptr, 3},  // 6.1
      {"", "5.0", 10},  {"", "junk", 3}, {"4.0", "5.0", 4}, {"junk", "5.1", 2},
  };
  for (const auto& c : cases) {
    if (c.variable)
      ::setenv("TESSARO_WINDOWS_VERSION", c.variable, 1);
    else
      ::unsetenv("TESSARO_WINDOWS_VERSION");
    uint32_t flags = 0xFFFFFFFF;
    GetWindowsVersionFlags(flags, c.setting);
    EXPECT_EQ(flags, c.flags) << c.setting << " / " << (c.variable ? c.variable : "(unset)");
  }
  ::unsetenv("TESSARO_WINDOWS_VERSION");
}
