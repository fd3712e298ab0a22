// SPDX-License-Identifier: GPL-2.0-or-later
// The enabled servers read back from the user hive, and SANE's host list made from them.
#include <gtest/gtest.h>

#include "autoconnect/EnabledServers.h"
#include "records/AutoConnectRecords.h"
#include "tests/autoconnect/StoreFixture.h"

namespace tessaro {
namespace {

class EnabledServersTest : public StoreTest {
 protected:
  void Store(const std::string& ip, const std::string& mac, bool enabled) {
    ServerInfoReg entry;
    entry.ServerName = "hub " + ip;
    entry.ServerIP = ip;
    entry.ServerMAC = mac;
    entry.ServerEnable = enabled ? 1 : 0;
    ASSERT_TRUE(WriteServerEntry(registry_, kAppKey, entry));
  }
};

TEST_F(EnabledServersTest, OnlyEnabledServerEntriesCount) {
  EXPECT_TRUE(EnabledServerIps(registry_, kAppKey).empty()) << "an empty hive";
  Store("192.168.1.20", "00:1C:F0:AA:0B:01", true);
  Store("192.168.1.21", "00:1C:F0:AA:0B:02", false);
  Store("10.0.0.7", "00:1C:F0:AA:0B:03", true);
  // The same address under a second MAC (a replaced server) is listed once.
  Store("10.0.0.7", "00:1C:F0:AA:0B:04", true);
  // A device entry below the same prefix is no server.
  AutoConnectInfo device;
  device.ServerIP = "172.16.0.1";
  device.ServerMAC = "00:1C:F0:AA:0B:05";
  device.DeviceVid = "04F9";
  device.DevicePid = "0042";
  device.DeviceSNo = "S1";
  ASSERT_TRUE(WriteDeviceEntry(registry_, kAppKey, device));
  auto ips = EnabledServerIps(registry_, kAppKey);
  std::sort(ips.begin(), ips.end());
  EXPECT_EQ(ips, (std::vector<std::string>{"10.0.0.7", "192.168.1.20"}));
}

TEST(SaneNetHostsTest, MergesWithTheUsersOwn) {
  struct Case {
    std::string existing;
    std::vector<std::string> hosts;
    std::string merged;
  } cases[] = {
      {"", {}, ""},
      {"", {"192.168.1.20", "10.0.0.7"}, "192.168.1.20;10.0.0.7"},
      {"scanbox", {"192.168.1.20"}, "scanbox;192.168.1.20"},
      {"192.168.1.20;scanbox", {"192.168.1.20", "10.0.0.7"}, "192.168.1.20;scanbox;10.0.0.7"},
      {"scanbox;", {"10.0.0.7", "10.0.0.7", ""}, "scanbox;10.0.0.7"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MergeSaneNetHosts(c.existing, c.hosts), c.merged) << c.existing;
  }
}

}  // namespace
}  // namespace tessaro
