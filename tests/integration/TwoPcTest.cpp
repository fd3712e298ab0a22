// SPDX-License-Identifier: GPL-2.0-or-later
// Two PCs on one machine share one device server: ownership, refusals, requests to use, lock
// expiry and a server restart, each seen from both sides.
#include <gtest/gtest.h>

#include "tests/support/Lab.h"

using namespace tessaro::testing;

namespace {

JsonLine Device(const Lab& lab, const Lab::Pc& pc, const std::string& number) {
  for (const auto& d : lab.Devices(pc, "127.0.0.2"))
    if (d.at("deviceNumber") == number) return d;
  return {};
}

std::vector<JsonLine> RecordsOfKind(const Process& watch, const std::string& kind) {
  std::vector<JsonLine> out;
  for (const auto& r : Lab::Records(watch))
    if (r.at("kind") == kind) out.push_back(r);
  return out;
}

}  // namespace

TEST(TwoPcs, OwnershipLocksRequestsAndRestart) {
  Lab lab;
  HubSpec hub{"127.0.0.2", "OFFICE-HUB", "00:1C:F0:AA:0B:01", PrinterAndStorage(), {}};
  lab.StartHub(hub);
  auto& a = lab.StartPc("PC-A", {"127.0.0.2"});
  auto& b = lab.StartPc("PC-B", {"127.0.0.2"});
  for (auto* pc : {&a, &b}) {
    ASSERT_TRUE(lab.WaitForServerState(*pc, "127.0.0.2", "1"));
    ASSERT_TRUE(lab.AttachAll(*pc, {"127.0.0.2"}));
  }
  Process& watchA = lab.StartWatch(a);
  Process& watchB = lab.StartWatch(b);

  // A links and locks the printer; the lock outlasts any slow CLI start below.
  ASSERT_EQ(lab.Cli(a, {"link", "127.0.0.2", "1"}).exitCode, 0);
  ASSERT_EQ(lab.Cli(a, {"lock", "127.0.0.2", "1", "2", "3600"}).exitCode, 0);

  // B cannot have it, and sees who holds it and how.
  EXPECT_EQ(lab.Cli(b, {"link", "127.0.0.2", "1"}).exitCode, 1);
  EXPECT_TRUE(Eventually([&] { return Device(lab, b, "1")["owner"] == "PC-A"; }));
  JsonLine seen = Device(lab, b, "1");
  EXPECT_EQ(seen["lockKind"], "2");
  EXPECT_EQ(seen["lockCount"], "1");
  EXPECT_EQ(lab.Cli(b, {"unlink", "127.0.0.2", "1"}).exitCode, 1) << "only the owner unlinks";

  // B asks; A is told who asks for what.
  ASSERT_EQ(lab.Cli(b, {"request", "127.0.0.2", "1"}).exitCode, 0);
  ASSERT_TRUE(Eventually([&] { return !RecordsOfKind(watchA, "4").empty(); })) << watchA.Output();
  const JsonLine ask = RecordsOfKind(watchA, "4").front();
  EXPECT_EQ(ask.at("name"), "OP_UBUS_REQUEST_TO_USE_DEVICE");
  EXPECT_EQ(ask.at("subCode"), "1");
  EXPECT_EQ(ask.at("deviceNumber"), "1");
  EXPECT_EQ(ask.at("ip"), "127.0.0.2");
  EXPECT_EQ(ask.at("requesterName"), "PC-B");
  EXPECT_TRUE(RecordsOfKind(watchB, "4").empty()) << "only the holder is asked";

  // A short lock replaces it and runs out by itself; the link stays until another PC takes the
  // device.
  ASSERT_EQ(lab.Cli(a, {"lock", "127.0.0.2", "1", "2", "1"}).exitCode, 0);
  EXPECT_TRUE(Eventually([&] { return Device(lab, b, "1")["lockCount"] == "0"; },
                         std::chrono::seconds(10)));
  EXPECT_EQ(Device(lab, b, "1")["owner"], "PC-A");
  EXPECT_EQ(lab.Cli(b, {"link", "127.0.0.2", "1"}).exitCode, 0);
  EXPECT_TRUE(Eventually([&] { return Device(lab, a, "1")["owner"] == "PC-B"; }));

  // The server restarts: both PCs notice it going and coming back, and it forgot every link.
  const size_t busEventsA = RecordsOfKind(watchA, "2").size();
  const size_t busEventsB = RecordsOfKind(watchB, "2").size();
  lab.StopHub("127.0.0.2");
  EXPECT_TRUE(lab.WaitForServerState(a, "127.0.0.2", "0"));
  EXPECT_TRUE(lab.WaitForServerState(b, "127.0.0.2", "0"));
  lab.StartHub(hub);
  EXPECT_TRUE(lab.WaitForServerState(a, "127.0.0.2", "1"));
  EXPECT_TRUE(lab.WaitForServerState(b, "127.0.0.2", "1"));
  // Each watch prints what busd sent it in its own time.
  EXPECT_TRUE(Eventually([&] { return RecordsOfKind(watchA, "2").size() >= busEventsA + 2; }))
      << watchA.Output();
  EXPECT_TRUE(Eventually([&] { return RecordsOfKind(watchB, "2").size() >= busEventsB + 2; }))
      << watchB.Output();
  EXPECT_TRUE(Eventually([&] {
    const JsonLine d = Device(lab, a, "1");
    return !d.empty() && d.at("owner").empty();
  }));
  EXPECT_EQ(lab.Cli(a, {"link", "127.0.0.2", "1"}).exitCode, 0) << "the bus works again";
}

// A PC is its key, kept beside its machine hive: a second PC with a hive of its own that says it
// is PC-A gets nowhere with PC-A's locked storage, while PC-A itself, restarted, still holds it.
TEST(TwoPcs, APcWithAnotherHiveCannotPoseAsTheOwner) {
  Lab lab;
  lab.StartHub({"127.0.0.2", "OFFICE-HUB", "00:1C:F0:AA:0B:01", PrinterAndStorage(), {}});
  auto& a = lab.StartPc("PC-A", {"127.0.0.2"});
  ASSERT_TRUE(lab.WaitForServerState(a, "127.0.0.2", "1"));
  ASSERT_TRUE(lab.AttachAll(a, {"127.0.0.2"}));
  ASSERT_EQ(lab.Cli(a, {"link", "127.0.0.2", "2"}).exitCode, 0);
  ASSERT_EQ(lab.Cli(a, {"lock", "127.0.0.2", "2", "2", "600"}).exitCode, 0);

  auto& impostor = lab.StartPc("IMPOSTOR", {"127.0.0.2"}, {"--computer-name", "PC-A"});
  ASSERT_TRUE(impostor.busd->WaitForOutput("refuses this PC's key for the name PC-A"))
      << impostor.busd->Output();
  const std::vector<std::vector<std::string>> attempts = {{"unlock", "127.0.0.2", "2", "2", "0"},
                                                          {"unlink", "127.0.0.2", "2"},
                                                          {"link", "127.0.0.2", "2"},
                                                          {"lock", "127.0.0.2", "2", "2", "600"}};
  for (const auto& attempt : attempts)
    EXPECT_NE(lab.Cli(impostor, attempt).exitCode, 0) << attempt[0];
  JsonLine held = Device(lab, a, "2");
  EXPECT_EQ(held["owner"], "PC-A");
  EXPECT_EQ(held["lockCount"], "1");

  lab.StopBusd(a);
  lab.StartBusd(a);
  ASSERT_TRUE(lab.WaitForServerState(a, "127.0.0.2", "1")) << a.busd->Output();
  ASSERT_TRUE(lab.AttachAll(a, {"127.0.0.2"}));
  EXPECT_EQ(lab.Cli(a, {"unlock", "127.0.0.2", "2", "2", "0"}).exitCode, 0);
  EXPECT_EQ(lab.Cli(a, {"unlink", "127.0.0.2", "2"}).exitCode, 0);
}
