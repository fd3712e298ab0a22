// SPDX-License-Identifier: GPL-2.0-or-later
// The real tessaro-busd and a fake device server: lists, attach, events, loss, shutdown.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <thread>

#include "platform/linux/SqliteRegistry.h"
#include "tests/busd/BusdProcessFixture.h"

using namespace tessaro;
using namespace tessaro::busd_process;

TEST_F(BusdProcess, ServerListShowsTheConfiguredServerAndAttachRefusesStrangers) {
  RawBus trunk(TrunkPath());
  ASSERT_TRUE(WaitForList(trunk, 1, 1));
  const auto list = ServerList(trunk);
  ASSERT_EQ(list.size(), 8u + 22 + 9);
  EXPECT_NE(list[0], 0);
  EXPECT_EQ(GetU32(&list[8]), kHubIp);
  EXPECT_EQ(GetU32(&list[12]), 1u);
  EXPECT_EQ((std::vector<uint8_t>(&list[16], &list[22])),
            (std::vector<uint8_t>{0x02, 0x00, 0x00, 0xAB, 0xCD, 0xEF}));
  EXPECT_EQ(GetU32(&list[22]), 1u);
  EXPECT_EQ(GetU32(&list[26]), 9u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&list[30]), 9), std::string("FAKE-HUB\0", 9));
  EXPECT_EQ(hub_->helloName(), "PC-A");

  EXPECT_EQ(trunk.Call(code::kAttachServer, {127, 0, 0, 9}).status, 31u);
  EXPECT_FALSE(RawBus(SpurPath(0)).valid());
  const auto version = trunk.Call(code::kGetTrunkVersion, std::vector<uint8_t>(64));
  EXPECT_EQ(version.status, 0u);
  EXPECT_NE(version.output.at(0), 0);
}

TEST_F(BusdProcess, AttachMakesASpurSendsKindOneAndForwardsLink) {
  RawBus trunk(TrunkPath());
  RawBus reader(TrunkPath());
  ASSERT_TRUE(WaitForList(trunk, 1, 1));
  RegisterReader(reader);
  ASSERT_EQ(trunk.Call(code::kAttachServer, {127, 0, 0, 2}).status, 0u);
  ASSERT_TRUE(ReadUntil(reader, IsDeviceEvent));
  ASSERT_TRUE(RawBus(SpurPath(0)).valid());  // there before its kind-1 record

  RawBus spur(SpurPath(0));
  const auto address = spur.Call(code::kGetSpurAddress, std::vector<uint8_t>(64));
  EXPECT_EQ(address.output, (std::vector<uint8_t>{8, 0, 0, 0, 127, 0, 0, 2}));
  const auto devices = spur.Call(code::kGetDeviceList, std::vector<uint8_t>(2048), 2048);
  ASSERT_EQ(devices.status, 0u);
  EXPECT_EQ(devices.output, busd::BuildDeviceList(
                                {Device(1, "PRINTER", "LaserOne"), Device(2, "SCANNER", "Scan")}));
  EXPECT_EQ(devices.output.at(4), 2);
  EXPECT_EQ(devices.output.at(8), 1);                // device number
  EXPECT_EQ(devices.output.at(9), 0xF9);             // vendor ID, low byte first
  EXPECT_EQ(GetU32(&devices.output.at(8 + 7)), 7u);  // "PRINTER"

  EXPECT_EQ(spur.Call(code::kLinkDevice, {1}, 1).status, 0u);
  // The server pushed the new owner before its Result: the cache already shows it.
  auto expected =
      std::vector<wire::DeviceInfo>{Device(1, "PRINTER", "LaserOne"), Device(2, "SCANNER", "Scan")};
  expected[0].owner = "PC-A";
  EXPECT_EQ(spur.Call(code::kGetDeviceList, std::vector<uint8_t>(2048), 2048).output,
            busd::BuildDeviceList(expected));
  EXPECT_EQ(spur.Call(code::kLinkDevice, {1}, 1).status, 31u);  // the fake refuses a taken one
  EXPECT_EQ(spur.Call(code::kUnlockDevice, {2, 0, 0, 0, 0, 2}, 6).status, 31u);
  const auto commands = hub_->commands();
  ASSERT_EQ(commands.size(), 3u);
  EXPECT_EQ(commands[0].type, wire::MsgType::Link);
  EXPECT_EQ(commands[0].command.number, 1);
  EXPECT_EQ(commands[2].type, wire::MsgType::Unlock);
  EXPECT_EQ(commands[2].command.kind, 2);
  EXPECT_TRUE(ReadUntil(reader, IsDeviceEvent));  // the link changed the list

  // Attaching again fetches again and reports it, on the same Spur.
  ASSERT_EQ(trunk.Call(code::kAttachServer, {127, 0, 0, 2}).status, 0u);
  EXPECT_TRUE(ReadUntil(reader, IsDeviceEvent));
  EXPECT_FALSE(RawBus(SpurPath(1)).valid());
}

TEST_F(BusdProcess, PushedChangesAndUseRequestsBecomeEvents) {
  RawBus trunk(TrunkPath());
  Attach(trunk);
  RawBus reader(TrunkPath());
  RegisterReader(reader);  // after the attach's own kind-1 record
  hub_->SetDevices({Device(3, "MFP", "AllInOne")});
  ASSERT_TRUE(ReadUntil(reader, IsDeviceEvent));
  RawBus spur(SpurPath(0));
  EXPECT_EQ(spur.Call(code::kGetDeviceList, {}, 2048).output,
            busd::BuildDeviceList({Device(3, "MFP", "AllInOne")}));

  hub_->PushUseRequested({1, 3, ::inet_addr("127.0.0.5"), "PC-B"});
  const auto use = ReadUntil(reader, [](const auto& r) { return !r.empty() && r[0] == 4; });
  ASSERT_TRUE(use);
  EXPECT_EQ(*use, (std::vector<uint8_t>{4, 1, 3, 127, 0, 0, 2, 127, 0, 0, 5, 4, 0, 0, 0, 'P', 'C',
                                        '-', 'B'}));
}

TEST_F(BusdProcess, WakeWithoutPendingReadIsKeptForTheNextRead) {
  RawBus control(TrunkPath());
  RawBus reader(TrunkPath());
  EXPECT_EQ(control.Call(code::kWakeEventReader, std::vector<uint8_t>(64)).status, 0u);
  reader.StartEventRead();
  auto woken = reader.Receive();
  ASSERT_TRUE(woken);
  EXPECT_EQ(woken->status, 0u);
  EXPECT_TRUE(woken->output.empty());
  // Used up: the next read waits until a new wake ends it.
  reader.StartEventRead();
  EXPECT_EQ(control.Call(code::kWakeEventReader, std::vector<uint8_t>(64)).status, 0u);
  std::optional<busipc::Reply> next;
  do {
    next = reader.Receive();  // events that came first are fine; the wake ends the read
    if (next && !next->output.empty()) reader.StartEventRead();
  } while (next && !next->output.empty());
  ASSERT_TRUE(next);
  EXPECT_EQ(next->status, 0u);
}

TEST_F(BusdProcess, LostServerTurnsNotAnsweringThenLeavesTheList) {
  RawBus trunk(TrunkPath());
  Attach(trunk);
  hub_->Stop();
  ASSERT_TRUE(WaitForList(trunk, 1, 0)) << "never reported as not answering";
  RawBus spur(SpurPath(0));
  EXPECT_EQ(spur.Call(code::kLinkDevice, {1}, 1).status, 31u);
  const auto devices = spur.Call(code::kGetDeviceList, {}, 2048);
  EXPECT_EQ(devices.status, 0u);
  EXPECT_EQ(devices.output.at(4), 0);
  ASSERT_TRUE(WaitForList(trunk, 0)) << "never dropped";
  EXPECT_TRUE(RawBus(SpurPath(0)).valid());  // a Spur stays while busd runs
  EXPECT_EQ(trunk.Call(code::kAttachServer, {127, 0, 0, 2}).status, 31u);
}

TEST_F(BusdProcess, AttachingAServerThatStoppedAnsweringStillGivesItsSpur) {
  RawBus trunk(TrunkPath());
  ASSERT_TRUE(WaitForList(trunk, 1, 1));
  hub_->Stop();
  ASSERT_TRUE(WaitForList(trunk, 1, 0));
  RawBus reader(TrunkPath());
  RegisterReader(reader);
  // Still listed (for --drop-after 2 s), so the attach is accepted.
  ASSERT_EQ(trunk.Call(code::kAttachServer, {127, 0, 0, 2}).status, 0u);
  EXPECT_TRUE(ReadUntil(reader, IsDeviceEvent));  // once the Spur is there, with no devices
  RawBus spur(SpurPath(0));
  ASSERT_TRUE(spur.valid());
  const auto devices = spur.Call(code::kGetDeviceList, {}, 2048);
  EXPECT_EQ(devices.status, 0u);
  EXPECT_EQ(devices.output.at(4), 0);
  EXPECT_EQ(spur.Call(code::kLockDevice, {1, 60, 0, 0, 0, 2}, 6).status, 31u);
}

TEST_F(BusdProcess, ServerOfAnotherMajorVersionIsListedAsIncompatible) {
  RawBus trunk(TrunkPath());
  ASSERT_TRUE(WaitForList(trunk, 1, 1));
  RawBus reader(TrunkPath());
  RegisterReader(reader);
  hub_.reset();
  hub_ = std::make_unique<testing_hub::FakeHub>("127.0.0.2", 2005, std::vector<wire::DeviceInfo>{},
                                                wire::kVersionMajor + 1);
  ASSERT_TRUE(hub_->listening());
  ASSERT_TRUE(WaitForList(trunk, 1, 2));
  EXPECT_TRUE(ReadUntil(reader, [](const auto& r) { return r.size() == 16 && r[0] == 2; }));
  // It keeps its place in the list while it answers, though it hangs up every time.
  EXPECT_EQ(ServerList(trunk).at(12), 2);
}

TEST_F(BusdProcess, SigtermRemovesSocketsAndFolders) {
  RawBus trunk(TrunkPath());
  Attach(trunk);
  ASSERT_TRUE(fs::exists(SpurPath(0)));
  EXPECT_EQ(StopBusd(SIGTERM), 0);
  EXPECT_FALSE(fs::exists(TrunkPath()));
  EXPECT_FALSE(fs::exists(SpurPath(0)));
  EXPECT_FALSE(fs::exists(busipc::ClassFolder(runtime_, true)));
  EXPECT_FALSE(fs::exists(busipc::ClassFolder(runtime_, false)));
  EXPECT_TRUE(fs::exists(runtime_));  // it was there before busd
}

// Stopped while a job's piece waits for a server that does not answer: failing the piece drops
// the job at its server from within busd's shutdown, which still ends cleanly.
TEST_F(BusdProcess, StopsCleanlyWhileAJobWaitsForItsServer) {
  RawBus trunk(TrunkPath());
  ASSERT_TRUE(WaitForList(trunk, 1, 1));
  ASSERT_EQ(trunk.Call(code::kAttachServer, {127, 0, 0, 2}).status, 0u);
  ASSERT_TRUE(WaitFor([&] { return RawBus(SpurPath(0)).valid(); }));
  RawBus spur(SpurPath(0));
  ASSERT_EQ(spur.Call(code::kLinkDevice, {1}, 1).status, 0u);
  hub_->SetAnswerCommands(false);
  spur.SendRequest(busipc::Op::Control, code::kWriteDeviceData, {1, 'x'}, 0);
  ASSERT_TRUE(WaitFor([&] { return hub_->commands().back().type == wire::MsgType::WriteData; }));
  EXPECT_EQ(StopBusd(SIGTERM), 0);
  const auto reply = spur.Receive();
  ASSERT_TRUE(reply.has_value()) << "the waiting caller hears of it before busd goes";
  EXPECT_EQ(reply->status, 31u) << "the job's piece was never taken";
}

TEST_F(BusdProcess, MalformedFrameClosesOnlyThatConnection) {
  RawBus bad(TrunkPath());
  RawBus good(TrunkPath());
  bad.SendRequest(static_cast<busipc::Op>(9), 0, {}, 0);
  EXPECT_FALSE(bad.Receive().has_value());
  EXPECT_EQ(good.Call(code::kGetTrunkVersion, {}).status, 0u);
}

TEST(BusdCommandLine, RefusesALongRuntimeFolder) {
  const std::string binary = std::string(tessaro::testing::kBinaryDir) + "/busd/tessaro-busd";
  const std::string dir = "/tmp/" + std::string(60, 'd');
  const std::string command = binary + " --no-discovery --runtime-dir " + dir + " 2>&1";
  FILE* p = ::popen(command.c_str(), "r");
  ASSERT_NE(p, nullptr);
  char line[512] = {};
  std::string output;
  while (std::fgets(line, sizeof line, p)) output += line;
  const int status = ::pclose(p);
  EXPECT_NE(WEXITSTATUS(status), 0);
  EXPECT_NE(output.find("at most 60"), std::string::npos) << output;
  EXPECT_FALSE(fs::exists(dir));
}

TEST_F(BusdProcess, DeviceDatabaseRecordsOnlyTheLinksThisPcMade) {
  // The server claims many devices are linked to this PC, which never asked for any of them.
  std::vector<wire::DeviceInfo> devices{Device(1, "PRINTER", "LaserOne")};
  for (uint8_t n = 2; n <= 21; ++n) {
    devices.push_back(Device(n, "SCANNER", "Scan"));
    devices.back().owner = "PC-A";
  }
  hub_->SetDevices(devices);
  RawBus trunk(TrunkPath());
  Attach(trunk);
  RawBus spur(SpurPath(0));
  ASSERT_TRUE(WaitFor([&] {
    const auto list = spur.Call(code::kGetDeviceList, std::vector<uint8_t>(8192), 8192).output;
    return list.size() > 4 && list[4] == devices.size();
  }));
  // A link this PC makes is recorded, by the time it has answered.
  EXPECT_EQ(spur.Call(code::kLinkDevice, {1}, 1).status, 0u);
  const std::string linked = "device 1 of server 127.0.0.2 linked to this PC";
  ASSERT_TRUE(busd_->WaitForOutput(linked)) << busd_->Output();
  const std::string output = busd_->Output();
  size_t records = 0;
  for (size_t at = output.find("linked to this PC"); at != std::string::npos;
       at = output.find("linked to this PC", at + 1))
    ++records;
  EXPECT_EQ(records, 1u) << output;
}

// Every user may read the machine hive. One holding a read transaction past the busy time-out
// neither stops busd answering nor costs the record: it is written once the reader lets go.
TEST_F(BusdProcess, DeviceIsRecordedOnceAReaderHoldingTheHiveLetsGo) {
  using namespace std::chrono_literals;
  const std::string file = hiveDir_ / "machine.hive";
  {
    SqliteRegistry made{HivePaths{"", file}};
    RegKey key;
    ASSERT_EQ(made.OpenKey(RegRoot::LocalMachine, "SYSTEM", regaccess::kAllAccess, true, key), 0u);
  }
  sqlite3* reader = nullptr;
  ASSERT_EQ(sqlite3_open_v2(file.c_str(), &reader, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM reg_key;", nullptr, nullptr, nullptr),
            SQLITE_OK);
  RawBus trunk(TrunkPath());
  Attach(trunk);
  RawBus spur(SpurPath(0));
  EXPECT_EQ(spur.Call(code::kLinkDevice, {1}, 1).status, 0u);
  for (int i = 0; i < 11; ++i) {
    EXPECT_EQ(spur.Call(code::kGetDeviceList, std::vector<uint8_t>(2048), 2048).status, 0u);
    std::this_thread::sleep_for(1s);
  }
  sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(reader);
  ASSERT_TRUE(busd_->WaitForOutput("device 1 of server 127.0.0.2 linked to this PC"))
      << busd_->Output();
  SqliteRegistry hive{HivePaths{"", file}};
  RegKey key;
  std::vector<std::string> names;
  ASSERT_EQ(hive.OpenKey(RegRoot::LocalMachine, "SYSTEM\\CurrentControlSet\\Enum\\USB",
                         regaccess::kRead, false, key),
            0u);
  ASSERT_EQ(hive.EnumSubKeys(key, names), 0u);
  EXPECT_EQ(names.size(), 1u);
}
