// SPDX-License-Identifier: GPL-2.0-or-later
// The descriptors a device's list entry carries: what the config gives, and the type word's
// defaults where it gives neither class nor interfaces; and the limits the config enforces.
#include <gtest/gtest.h>

#include <algorithm>

#include "hubd/Config.h"
#include "hubd/DeviceDescription.h"

using namespace tessaro;
using namespace tessaro::hubd;

namespace {

using Descriptors = std::vector<std::pair<std::string, std::string>>;

TEST(HubdDescriptors, ConfigOrTheTypeWordsDefaults) {
  const struct {
    const char* what;
    std::string keys;  // lines of the [device 1] section after its IDs
    Descriptors sent;
  } cases[] = {
      {"printer", "type = PRINTER\n", {{"class", "07/01/02"}}},
      {"storage, any letter case", "type = mass storage\n", {{"class", "08/06/50"}}},
      {"multi-function: printer and still image",
       "type = MFP\n",
       {{"interfaces", "07/01/02,06/01/01"}}},
      {"scanner", "type = SCANNER\n", {{"class", "ff/ff/ff"}}},
      {"a type word of its own", "type = Camera\n", {{"class", "ff/ff/ff"}}},
      {"no type word", "", {{"class", "ff/ff/ff"}}},
      {"the config's class wins", "type = PRINTER\nclass = 07/01/03\n", {{"class", "07/01/03"}}},
      {"the config's interfaces alone",
       "type = MFP\ninterfaces = 07/01/02, ff/ff/ff\n",
       {{"interfaces", "07/01/02, ff/ff/ff"}}},
      {"every descriptor key",
       "type = MFP\nclass = ef/02/01\ninterfaces = 07/01/02,ff/ff/ff\ndriver-class = USB\n"
       "dot4 = YES\nsane-device = test:0\n",
       {{"class", "ef/02/01"},
        {"interfaces", "07/01/02,ff/ff/ff"},
        {"driver-class", "USB"},
        {"dot4", "yes"},
        {"sane-device", "test:0"}}},
  };
  for (const auto& c : cases) {
    const auto r =
        ParseConfig("[device 1]\nvendor-id = 2e10\nproduct-id = 5567\n" + c.keys, "hub.ini");
    ASSERT_TRUE(r.config) << c.what << ": " << r.error;
    EXPECT_EQ(DescribeDevice(r.config->devices.at(0)).descriptors, c.sent) << c.what;
  }
}

TEST(HubdDescriptors, AScannerServedThroughTheServerIsNamedAsAPcOpensIt) {
  DeviceConfig scanner;
  scanner.type = "SCANNER";
  scanner.saneDevice = "test:0";
  const auto saneDevice = [](const DeviceConfig& d, std::string_view server) {
    const wire::DeviceInfo info = DescribeDevice(d, server);
    const auto at = std::find_if(info.descriptors.begin(), info.descriptors.end(),
                                 [](const auto& kv) { return kv.first == "sane-device"; });
    return at == info.descriptors.end() ? std::string("(none)") : at->second;
  };
  EXPECT_EQ(saneDevice(scanner, "127.0.0.3"), "net:127.0.0.3:test:0");
  EXPECT_EQ(saneDevice(scanner, ""), "test:0") << "without SANE served, the config's name";
  DeviceConfig printer;
  printer.type = "PRINTER";
  EXPECT_EQ(saneDevice(printer, "127.0.0.3"), "(none)");
}

TEST(HubdDescriptors, TheFrameLimitCountsTheLongestNetName) {
  // The longest names the check lets through must still fit once each becomes
  // net:255.255.255.255:NAME, as a server serving SANE sends them (with longest owners).
  std::vector<DeviceConfig> devices(wire::kMaxDevices);
  for (size_t i = 0; i < devices.size(); ++i) {
    devices[i].number = static_cast<uint8_t>(i + 1);
    devices[i].type = "SCANNER";
  }
  const auto fitsWith = [&](size_t nameLength) {
    for (DeviceConfig& d : devices) d.saneDevice.assign(nameLength, 'n');
    return DeviceListFitsOneFrame(devices);
  };
  size_t longest = 0;
  while (fitsWith(longest + 1)) ++longest;
  ASSERT_TRUE(fitsWith(longest));
  std::vector<wire::DeviceInfo> list;
  for (DeviceConfig& d : devices) {
    list.push_back(DescribeDevice(d, "255.255.255.255"));
    list.back().owner.assign(kMaxComputerName, 'X');
  }
  EXPECT_LE(wire::EncodeDeviceList(list).size(), wire::kMaxPayload);
}

TEST(HubdDescriptors, LimitsOfInterfacesAndVetoNames) {
  const std::string device = "[device 3]\nvendor-id = 2e10\nproduct-id = 5567\n";
  std::string ten = "07/01/02";
  for (int i = 1; i < 10; ++i) ten += ",ff/ff/ff";
  const struct {
    const char* what;
    std::string line;
    std::string error;  // empty: accepted
  } cases[] = {
      {"ten interfaces", "interfaces = " + ten + "\n", ""},
      {"eleven interfaces", "interfaces = " + ten + ",08/06/50\n",
       "hub.ini:4: bad interfaces \"" + ten + ",08/06/50\": at most 10 functions"},
      {"veto name of 259 bytes", "eject-veto-name = " + std::string(259, 'v') + "\n", ""},
      {"veto name of 260 bytes", "eject-veto-name = " + std::string(260, 'v') + "\n",
       "hub.ini:4: bad eject-veto-name: at most 259 bytes"},
  };
  for (const auto& c : cases) {
    const auto r = ParseConfig(device + c.line, "hub.ini");
    EXPECT_EQ(r.error, c.error) << c.what;
    EXPECT_EQ(r.config.has_value(), c.error.empty()) << c.what;
  }
}

}  // namespace
