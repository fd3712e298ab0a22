// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "hubd/Config.h"
#include "hubd/Options.h"

using namespace tessaro::hubd;

namespace {

constexpr const char* kServer = "[server]\nname = SRV\naddress = 127.0.0.2\n";

TEST(HubdConfig, ReadsEveryKeyOfAFullFile) {
  const auto r = ParseConfig(
      "# demo server\n"
      "[server]\n"
      "name = Office Hub\n"
      "address = 127.0.0.2\n"
      "port = 2010\n"
      "mac = 00:1A:2b:3c:4d:5e\n"
      "storage-mode = -3\n"
      "sane = Yes\n"
      "sane-port = 6570\n"
      "\n"
      "; the storage device first, to check the list comes out sorted\n"
      "[device 9]\n"
      "type = MASS STORAGE\n"
      "vendor-id = 0781\n"
      "product-id = 5567\n"
      "eject-veto = 2\n"
      "eject-veto-name = in use by backup\n"
      "[device 2]\n"
      "type = MFP\n"
      "vendor-id = 04F9\n"
      "product-id = 0042\n"
      "manufacturer = Maker; Co\n"
      "serial =\n"
      "interfaces = 07/01/02, ff/ff/ff\n"
      "driver-class = USB\n"
      "dot4 = YES\n"
      "output-folder = /tmp/out\n"
      "sane-device = test:0\n",
      "hub.ini");
  ASSERT_TRUE(r.config) << r.error;
  const HubConfig& c = *r.config;
  EXPECT_EQ(c.server.name, "Office Hub");
  EXPECT_EQ(c.server.port, 2010);
  EXPECT_EQ(c.server.mac, (std::array<uint8_t, 6>{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
  EXPECT_EQ(c.server.storageMode, -3);
  EXPECT_TRUE(c.server.sane);
  EXPECT_EQ(c.server.sanePort, 6570);
  ASSERT_EQ(c.devices.size(), 2u);
  const DeviceConfig& mfp = c.devices[0];
  EXPECT_EQ(mfp.number, 2);
  EXPECT_EQ(mfp.vendorId, 0x04F9);
  EXPECT_EQ(mfp.manufacturer, "Maker; Co");  // ';' inside a value is no comment
  EXPECT_EQ(mfp.serial, "");
  EXPECT_EQ(mfp.interfaces, "07/01/02, ff/ff/ff");
  EXPECT_EQ(mfp.dot4, "yes");
  EXPECT_EQ(mfp.saneDevice, "test:0");
  EXPECT_EQ(c.devices[1].type, "MASS STORAGE");
  EXPECT_EQ(c.devices[1].ejectVeto, 2u);
}

TEST(HubdConfig, DefaultsForWhatTheFileLeavesOut) {
  const auto r = ParseConfig(
      "[server]\naddress = 10.1.2.3\n[device 1]\nvendor-id=0001\nproduct-id=0002\n", "h");
  ASSERT_TRUE(r.config) << r.error;
  EXPECT_EQ(r.config->server.port, 2005);
  EXPECT_EQ(r.config->server.storageMode, 1);
  EXPECT_FALSE(r.config->server.sane);
  EXPECT_EQ(r.config->server.sanePort, 6566);
  EXPECT_EQ(r.config->devices[0].type, "UNKNOWN");
}

struct BadCase {
  const char* what;
  std::string text;
  const char* error;  // the whole expected error line
};
void PrintTo(const BadCase& row, std::ostream* os) { *os << row.what; }

class HubdConfigErrors : public ::testing::TestWithParam<BadCase> {};

TEST_P(HubdConfigErrors, NameFileLineAndCause) {
  const auto r = ParseConfig(GetParam().text, "hub.ini");
  EXPECT_FALSE(r.config);
  EXPECT_EQ(r.error, GetParam().error);
}

const std::string kDev = "[device 4]\nvendor-id = 1234\nproduct-id = abcd\n";

INSTANTIATE_TEST_SUITE_P(
    Table, HubdConfigErrors,
    ::testing::Values(
        BadCase{"unknown section", std::string(kServer) + "[printer 1]\n",
                "hub.ini:4: unknown section [printer 1]"},
        BadCase{"unknown server key", std::string(kServer) + "colour = red\n",
                "hub.ini:4: unknown key \"colour\" in [server]"},
        BadCase{"unknown device key", kDev + "speed = 3\n",
                "hub.ini:4: unknown key \"speed\" in [device 4]"},
        BadCase{"sane neither yes nor no", std::string(kServer) + "sane = 1\n",
                "hub.ini:4: bad sane \"1\": want yes or no"},
        BadCase{"sane-port 0", std::string(kServer) + "sane-port = 0\n",
                "hub.ini:4: bad sane-port \"0\": want 1..65535"},
        BadCase{"sane-port too large", std::string(kServer) + "sane-port = 65536\n",
                "hub.ini:4: bad sane-port \"65536\": want 1..65535"},
        BadCase{"key outside sections", "name = x\n", "hub.ini:1: \"name\" outside any section"},
        BadCase{"line without =", std::string(kServer) + "garbage\n",
                "hub.ini:4: expected key = value or [section]"},
        BadCase{"unclosed header", "[server\n", "hub.ini:1: section header without ']'"},
        BadCase{"port not a number", "[server]\nport = 20x5\n",
                "hub.ini:2: bad port \"20x5\": want 1..65535"},
        BadCase{"port too big", "[server]\nport = 65536\n",
                "hub.ini:2: bad port \"65536\": want 1..65535"},
        BadCase{"port zero", "[server]\nport = 0\n", "hub.ini:2: bad port \"0\": want 1..65535"},
        BadCase{"storage-mode overflow", "[server]\nstorage-mode = 99999999999\n",
                "hub.ini:2: bad storage-mode \"99999999999\": want an integer"},
        BadCase{"wildcard address", "[server]\naddress = 0.0.0.0\n",
                "hub.ini:2: bad address \"0.0.0.0\": want the server's own IPv4 address"},
        BadCase{"address not IPv4", "[server]\naddress = 127.0.0\n",
                "hub.ini:2: bad address \"127.0.0\": want the server's own IPv4 address"},
        BadCase{"mac with dashes", "[server]\nmac = 00-11-22-33-44-55\n",
                "hub.ini:2: bad mac \"00-11-22-33-44-55\": want six hex pairs such as "
                "00:1a:2b:3c:4d:5e"},
        BadCase{
            "mac with five pairs", "[server]\nmac = 00:11:22:33:44\n",
            "hub.ini:2: bad mac \"00:11:22:33:44\": want six hex pairs such as 00:1a:2b:3c:4d:5e"},
        BadCase{"mac with a non-hex pair", "[server]\nmac = 00:11:22:33:44:5g\n",
                "hub.ini:2: bad mac \"00:11:22:33:44:5g\": want six hex pairs such as "
                "00:1a:2b:3c:4d:5e"},
        BadCase{"device 0", "[device 0]\n", "hub.ini:1: device number 0 outside 1..127"},
        BadCase{"device 128", "[device 128]\n", "hub.ini:1: device number 128 outside 1..127"},
        BadCase{"device number not a number", "[device one]\n",
                "hub.ini:1: bad device number \"one\""},
        BadCase{"negative device number", "[device -1]\n", "hub.ini:1: bad device number \"-1\""},
        BadCase{"duplicate device number", kDev + kDev, "hub.ini:4: device number 4 given twice"},
        BadCase{"second server section", std::string(kServer) + "[server]\n",
                "hub.ini:4: second [server] section"},
        BadCase{"key given twice", std::string(kServer) + "name = again\n",
                "hub.ini:4: key \"name\" given twice"},
        BadCase{"vendor-id of 3 digits", "[device 1]\nvendor-id = 4f9\n",
                "hub.ini:2: bad vendor-id \"4f9\": want 4 hex digits"},
        BadCase{"product-id not hex", "[device 1]\nproduct-id = 00G1\n",
                "hub.ini:2: bad product-id \"00G1\": want 4 hex digits"},
        BadCase{"vendor-id with 0x", "[device 1]\nvendor-id = 0x04f9\n",
                "hub.ini:2: bad vendor-id \"0x04f9\": want 4 hex digits"},
        BadCase{"missing product-id", "[device 5]\nvendor-id = 1234\n[server]\n",
                "hub.ini:1: [device 5] has no product-id"},
        BadCase{"missing vendor-id at end of file", "[server]\n[device 6]\nproduct-id = 1234\n",
                "hub.ini:2: [device 6] has no vendor-id"},
        BadCase{"class not a triple", kDev + "class = 07/01\n",
                "hub.ini:4: bad class \"07/01\": want hex triple such as 07/01/02"},
        BadCase{"interfaces with a bad entry", kDev + "interfaces = 07/01/02,,ff/ff/ff\n",
                "hub.ini:4: bad interfaces \"07/01/02,,ff/ff/ff\": want comma-separated triples "
                "such as 07/01/02,ff/ff/ff"},
        BadCase{"dot4 neither yes nor no", kDev + "dot4 = maybe\n",
                "hub.ini:4: bad dot4 \"maybe\": want yes or no"},
        BadCase{"eject-veto negative", kDev + "eject-veto = -1\n",
                "hub.ini:4: bad eject-veto \"-1\": want a number"},
        BadCase{"usb neither yes nor no", "[server]\nusb = on\n",
                "hub.ini:2: bad usb \"on\": want yes or no"},
        BadCase{"match without a product ID", "[device 3]\nmatch = 04f9\n",
                "hub.ini:2: bad match \"04f9\": want VID:PID or VID:PID:SERIAL, IDs as 4 hex "
                "digits"},
        BadCase{"match with an empty serial", "[device 3]\nmatch = 04f9:0042:\n",
                "hub.ini:2: bad match \"04f9:0042:\": want VID:PID or VID:PID:SERIAL, IDs as 4 "
                "hex digits"},
        BadCase{"usb-port without a port", "[device 3]\nusb-port = 1-\n",
                "hub.ini:2: bad usb-port \"1-\": want a port path such as 1-1.2"},
        BadCase{"usb-port with an empty hop", "[device 3]\nusb-port = 1-1..2\n",
                "hub.ini:2: bad usb-port \"1-1..2\": want a port path such as 1-1.2"},
        BadCase{"match and usb-port", "[device 3]\nmatch = 04f9:0042\nusb-port = 1-1\n",
                "hub.ini:1: [device 3] has both match and usb-port: give one"},
        BadCase{"match with IDs of its own", "[device 3]\nmatch = 04f9:0042\nvendor-id = 04f9\n",
                "hub.ini:1: [device 3] names a USB device: its IDs come from the device"},
        BadCase{"hide on a described device", kDev + "hide = yes\n",
                "hub.ini:1: [device 4]: hide is for a section with match or usb-port"},
        BadCase{"hide neither yes nor no", "[device 3]\nusb-port = 1-1\nhide = 1\n",
                "hub.ini:3: bad hide \"1\": want yes or no"},
        BadCase{"texts too long for one list frame",
                "[device 1]\nvendor-id=0001\nproduct-id=0001\nproduct = " +
                    std::string(70000, 'x') + "\n",
                "hub.ini: the device list is too large for one frame; shorten its texts"}),
    [](const auto& row) {
      std::string n = row.param.what;
      for (char& ch : n)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

TEST(HubdConfig, SectionsNamingUsbDevices) {
  const auto r = ParseConfig(std::string(kServer) +
                                 "usb = YES\n"
                                 "[device 7]\nmatch = 04F9:0042:SN:with:colons\nproduct = Front Desk\n"
                                 "[device 8]\nmatch = 04b8:0110\nhide = yes\n"
                                 "[device 9]\nusb-port = 2-1.4.3\neject-veto = 6\n",
                             "hub.ini");
  ASSERT_TRUE(r.config) << r.error;
  EXPECT_TRUE(r.config->server.usb);
  const auto& d = r.config->devices;
  ASSERT_EQ(d.size(), 3u);
  ASSERT_TRUE(d[0].match);
  EXPECT_EQ(d[0].match->vendorId, 0x04f9);
  EXPECT_EQ(d[0].match->productId, 0x0042);
  EXPECT_EQ(d[0].match->serial, "SN:with:colons");
  EXPECT_FALSE(d[0].hide);
  EXPECT_EQ(d[1].match->serial, std::nullopt);
  EXPECT_TRUE(d[1].hide);
  EXPECT_EQ(d[2].usbPort, "2-1.4.3");
  EXPECT_TRUE(d[2].NamesUsbDevice());
  EXPECT_FALSE(ParseConfig(kServer, "hub.ini").config->server.usb);  // off unless asked for
}

TEST(HubdConfig, MissingFileIsAnErrorNotACrash) {
  const auto r = LoadConfig("/nonexistent/hub.ini");
  EXPECT_FALSE(r.config);
  EXPECT_EQ(r.error, "/nonexistent/hub.ini: cannot read the file");
}

TEST(HubdOptions, OverridesAndRefusals) {
  auto r = ParseOptions({"--config", "h.ini", "--address", "127.0.0.3", "--port", "2006",
                         "--discovery-port", "9400", "--protocol-version", "2"});
  ASSERT_TRUE(r) << r.error();
  HubConfig c = *ParseConfig(kServer, "h.ini").config;
  EXPECT_TRUE(ApplyOverrides(*r, c));
  EXPECT_EQ(c.server.address, "127.0.0.3");
  EXPECT_EQ(c.server.port, 2006);
  EXPECT_EQ(r->discoveryPort, 9400);
  EXPECT_EQ(r->versionMajor, 2);

  HubConfig noAddress;
  const auto refused = ApplyOverrides(*ParseOptions({"--config", "h.ini"}), noAddress);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error(), "h.ini: no server address: give [server] address or --address");
  for (const std::vector<std::string>& bad : {std::vector<std::string>{},
                                              {"--config"},
                                              {"--config", "h", "--port", "70000"},
                                              {"--config", "h", "--address", "0.0.0.0"},
                                              {"--config", "h", "--verbose", "1"}})
    EXPECT_FALSE(ParseOptions(bad)) << ::testing::PrintToString(bad);
}

}  // namespace
