// SPDX-License-Identifier: GPL-2.0-or-later
// The bus end to end: real device servers and busd processes, driven as a user's scripts drive
// them, through tessaro-cli.
#include <gtest/gtest.h>

#include "tests/support/Lab.h"

using namespace tessaro::testing;

namespace {

const JsonLine* FindDevice(const std::vector<JsonLine>& devices, const std::string& number) {
  for (const auto& d : devices)
    if (d.at("deviceNumber") == number) return &d;
  return nullptr;
}

int CountRecords(const Process& watch, const std::string& kind, const std::string& ip = "") {
  int n = 0;
  for (const auto& r : Lab::Records(watch))
    if (r.at("kind") == kind && (ip.empty() || r.at("ip") == ip)) ++n;
  return n;
}

class OnePc : public ::testing::Test {
 protected:
  void SetUp() override {
    lab.StartHub({"127.0.0.2", "OFFICE-HUB", "00:1C:F0:AA:0B:01", PrinterAndStorage(), {}});
    lab.StartHub({"127.0.0.3", "STUDIO-HUB", "00:1c:f0:aa:0b:02", MfpAndScanner(), {}});
    pc = &lab.StartPc("PC-A", {"127.0.0.2", "127.0.0.3"});
  }
  Lab lab;
  Lab::Pc* pc = nullptr;
};

}  // namespace

TEST_F(OnePc, ServersAppearWithTheirFacts) {
  ASSERT_TRUE(lab.WaitForServerState(*pc, "127.0.0.2", "1"));
  ASSERT_TRUE(lab.WaitForServerState(*pc, "127.0.0.3", "1"));
  for (const auto& s : lab.CliJson(*pc, {"servers"})) {
    if (s.at("ip") == "127.0.0.2") {
      EXPECT_EQ(s.at("name"), "OFFICE-HUB");
      EXPECT_EQ(s.at("mac"), "00:1C:F0:AA:0B:01");
    } else {
      EXPECT_EQ(s.at("name"), "STUDIO-HUB");
      EXPECT_EQ(s.at("mac"), "00:1C:F0:AA:0B:02");  // upper case whatever the config says
    }
    EXPECT_EQ(s.at("storageMode"), "1");
  }
  const auto version = lab.CliJson(*pc, {"trunk-version"});
  ASSERT_EQ(version.size(), 1u);
  EXPECT_NE(version[0].at("version"), "");
}

TEST_F(OnePc, AttachOpensBusesAndTheirDeviceListsArrive) {
  ASSERT_TRUE(lab.WaitForServerState(*pc, "127.0.0.3", "1"));
  Process& watch = lab.StartWatch(*pc);
  EXPECT_TRUE(lab.CliJson(*pc, {"spurs"}).empty());
  EXPECT_EQ(lab.Cli(*pc, {"attach", "127.0.0.9"}).exitCode, 1) << "never attach an unknown server";
  EXPECT_EQ(lab.Cli(*pc, {"devices", "127.0.0.2"}).exitCode, 4);

  ASSERT_TRUE(lab.AttachAll(*pc, {"127.0.0.2", "127.0.0.3"}));
  EXPECT_TRUE(Eventually([&] {
    return CountRecords(watch, "1", "127.0.0.2") >= 1 && CountRecords(watch, "1", "127.0.0.3") >= 1;
  })) << watch.Output();

  const auto printers = lab.Devices(*pc, "127.0.0.2");
  ASSERT_EQ(printers.size(), 2u);
  const JsonLine* printer = FindDevice(printers, "1");
  ASSERT_NE(printer, nullptr);
  EXPECT_EQ(printer->at("vendorId"), "04F9");
  EXPECT_EQ(printer->at("productId"), "0042");
  EXPECT_EQ(printer->at("type"), "PRINTER");
  EXPECT_EQ(printer->at("owner"), "");
  EXPECT_EQ(printer->at("lockKind"), "0");
  EXPECT_EQ(printer->at("serial"), "LW2040-00731");
  EXPECT_EQ(FindDevice(printers, "2")->at("type"), "mass storage") << "type words pass through";

  const auto others = lab.Devices(*pc, "127.0.0.3");
  ASSERT_EQ(others.size(), 2u);
  const JsonLine* unnamed = FindDevice(others, "5");
  ASSERT_NE(unnamed, nullptr);
  EXPECT_EQ(unnamed->at("type"), "Camera");
  EXPECT_EQ(unnamed->at("manufacturer"), "");
  EXPECT_EQ(lab.CliJson(*pc, {"spur-version", "127.0.0.3"}).size(), 1u);
}

TEST_F(OnePc, LinkLockUnlockUnlinkAreSeenInTheListAndAsEvents) {
  ASSERT_TRUE(lab.WaitForServerState(*pc, "127.0.0.2", "1"));
  ASSERT_TRUE(lab.AttachAll(*pc, {"127.0.0.2"}));
  Process& watch = lab.StartWatch(*pc);

  struct Step {
    std::vector<std::string> command;
    std::string owner, lockKind, lockCount;
  } steps[] = {
      {{"link", "127.0.0.2", "1"}, "PC-A", "0", "0"},
      {{"lock", "127.0.0.2", "1", "2", "3600"}, "PC-A", "2", "1"},
      {{"lock", "127.0.0.2", "1", "1", "1200"}, "PC-A", "1", "1"},  // a second lock replaces
      {{"unlock", "127.0.0.2", "1", "1", "0"}, "PC-A", "0", "0"},
      {{"unlink", "127.0.0.2", "1"}, "", "0", "0"},
      {{"request", "127.0.0.2", "1"}, "", "0", "0"},  // a free device: nobody to ask
  };
  int changes = 0;
  for (const auto& step : steps) {
    const auto result = lab.Cli(*pc, step.command);
    ASSERT_EQ(result.exitCode, 0) << step.command[0] << ": " << result.err;
    EXPECT_EQ(ParseFlatJson(result.Lines().at(0)).at("ok"), "true");
    // The list is current as soon as the command has answered.
    const auto devices = lab.Devices(*pc, "127.0.0.2");
    const JsonLine* d = FindDevice(devices, "1");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->at("owner"), step.owner) << step.command[0];
    EXPECT_EQ(d->at("lockKind"), step.lockKind) << step.command[0];
    EXPECT_EQ(d->at("lockCount"), step.lockCount) << step.command[0];
    if (step.command[0] != "request") ++changes;
  }
  EXPECT_TRUE(Eventually([&] { return CountRecords(watch, "1", "127.0.0.2") >= changes; }))
      << watch.Output();
  EXPECT_EQ(CountRecords(watch, "4"), 0);

  // Refusals: an unlink by a PC that does not own the device, a lock without a link.
  EXPECT_EQ(lab.Cli(*pc, {"unlink", "127.0.0.2", "1"}).exitCode, 1);
  EXPECT_EQ(lab.Cli(*pc, {"lock", "127.0.0.2", "1", "2", "60"}).exitCode, 1);
  EXPECT_EQ(lab.Cli(*pc, {"link", "127.0.0.2", "99"}).exitCode, 1);
}

TEST_F(OnePc, DeviceListEditedOnTheServerReachesThePc) {
  ASSERT_TRUE(lab.WaitForServerState(*pc, "127.0.0.2", "1"));
  ASSERT_TRUE(lab.AttachAll(*pc, {"127.0.0.2"}));
  ASSERT_EQ(lab.Cli(*pc, {"link", "127.0.0.2", "1"}).exitCode, 0);
  Process& watch = lab.StartWatch(*pc);
  lab.EditHubDevices("127.0.0.2", PrinterAndStorage() +
                                      "\n[device 3]\ntype = SCANNER\nvendor-id = 2E12\n"
                                      "product-id = 0001\nmanufacturer = Prism\nproduct = "
                                      "ScanDesk 110\nserial = S1\n");
  EXPECT_TRUE(Eventually([&] { return lab.Devices(*pc, "127.0.0.2").size() == 3; }));
  EXPECT_TRUE(Eventually([&] { return CountRecords(watch, "1", "127.0.0.2") >= 1; }));
  EXPECT_EQ(FindDevice(lab.Devices(*pc, "127.0.0.2"), "1")->at("owner"), "PC-A")
      << "a device that stays keeps its owner";
}

TEST(Servers, IncompatibleServerIsListedWithStateTwo) {
  Lab lab;
  lab.StartHub({"127.0.0.2",
                "OLD-HUB",
                "00:1C:F0:AA:0B:09",
                PrinterAndStorage(),
                {"--protocol-version", "9"}});
  auto& pc = lab.StartPc("PC-A", {"127.0.0.2"});
  EXPECT_TRUE(lab.WaitForServerState(pc, "127.0.0.2", "2"));
  EXPECT_EQ(lab.Cli(pc, {"attach", "127.0.0.2"}).exitCode, 0) << "attach still answers";
}

TEST(Servers, SilentServerIsReportedThenDroppedAndFoundAgain) {
  Lab lab;
  HubSpec hub{"127.0.0.2", "OFFICE-HUB", "00:1C:F0:AA:0B:01", PrinterAndStorage(), {}};
  lab.StartHub(hub);
  auto& pc = lab.StartPc("PC-A", {"127.0.0.2"}, {"--drop-after", "2"});
  ASSERT_TRUE(lab.WaitForServerState(pc, "127.0.0.2", "1"));
  ASSERT_TRUE(lab.AttachAll(pc, {"127.0.0.2"}));
  Process& watch = lab.StartWatch(pc);
  lab.StopHub("127.0.0.2");
  EXPECT_TRUE(lab.WaitForServerState(pc, "127.0.0.2", "0"));
  EXPECT_TRUE(Eventually([&] { return lab.Devices(pc, "127.0.0.2").empty(); }))
      << "an unreachable server's bus lists no devices";
  EXPECT_TRUE(lab.WaitForServerState(pc, "127.0.0.2", ""));
  EXPECT_EQ(lab.CliJson(pc, {"spurs"}).size(), 1u) << "the bus stays while busd runs";
  EXPECT_EQ(lab.Cli(pc, {"link", "127.0.0.2", "1"}).exitCode, 1);
  // The watch prints what busd sent it in its own time.
  EXPECT_TRUE(Eventually([&] { return CountRecords(watch, "2") >= 2; })) << watch.Output();

  lab.StartHub(hub);
  EXPECT_TRUE(lab.WaitForServerState(pc, "127.0.0.2", "1"));
}
