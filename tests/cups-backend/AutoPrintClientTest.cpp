// SPDX-License-Identifier: GPL-2.0-or-later
// Auto-connect printing end to end: the real client program (off-screen) runs the print monitor
// of a stored entry over a private cupsd whose queue uses the real backend, next to real busd and
// hubd processes. Nobody presses Connect: the monitor holds the queue, links and locks the device
// when a job waits, and the job's bytes arrive in one file at the server. `tessaro-cli monitor`
// runs the same monitors and reports each action.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <functional>

#include "tests/cups-backend/AutoPrintFixture.h"

namespace tessaro::testing {
namespace {

TEST_F(AutoPrintClient, AJobOnAFreeDeviceLinksLocksPrintsAndUnlocks) {
  StartClient();
  ASSERT_TRUE(Held()) << cups_.QueueStatus("office") << client_->Output();
  EXPECT_EQ(Printer().at("owner"), "");
  const std::string job = RandomBytes(150 * 1000, 3);
  const int id = cups_.Submit("office", job);
  ASSERT_GT(id, 0);
  ASSERT_TRUE(PrintedWhole(1, job)) << cups_.QueueStatus("office");
  EXPECT_EQ(Printer().at("owner"), "PC-A");
  EXPECT_TRUE(Eventually([&] { return QueueEmpty(); }, kLong));
  // Once the queue is empty the automatic lock goes at once (a printer lingers 0 s).
  EXPECT_TRUE(Eventually([&] { return Printer().at("lockCount") == "0"; }, kLong))
      << Printer().at("lockKind") << " " << Printer().at("lockCount");
  EXPECT_EQ(FilesIn(output_), std::vector<std::string>{"job-1-PC-A.prn"});
}

TEST_F(AutoPrintClient, AJobWaitsWhileAnotherPcHoldsTheDeviceThenPrints) {
  ASSERT_EQ(lab_.Cli(*other_, {"link", kHubIp, "1"}).exitCode, 0);
  ASSERT_EQ(lab_.Cli(*other_, {"lock", kHubIp, "1", "2", "3600"}).exitCode, 0);
  StartClient();
  ASSERT_TRUE(Held()) << client_->Output();
  const std::string job = RandomBytes(40 * 1000, 5);
  ASSERT_GT(cups_.Submit("office", job), 0);
  // Two looks of the monitor find the device held, and the job still waits.
  ASSERT_TRUE(client_->WaitForOutputCount("monitor office link-failed", 2, kLong))
      << client_->Output();
  EXPECT_FALSE(QueueEmpty());
  // Paused (parked while the monitor tries for the device), so the backend never starts.
  EXPECT_NE(cups_.QueueStatus("office").find("disabled"), std::string::npos)
      << cups_.QueueStatus("office") << client_->Output();
  EXPECT_TRUE(FilesIn(output_).empty());

  ASSERT_EQ(lab_.Cli(*other_, {"unlock", kHubIp, "1", "2", "0"}).exitCode, 0);
  ASSERT_EQ(lab_.Cli(*other_, {"unlink", kHubIp, "1"}).exitCode, 0);
  EXPECT_TRUE(PrintedWhole(1, job)) << cups_.QueueStatus("office");
  EXPECT_TRUE(Eventually([&] { return QueueEmpty(); }, kLong));
}

TEST_F(AutoPrintClient, JobsWaitWhileNoClientRunsAndPrintOnceAfterItsNextStart) {
  StartClient();
  ASSERT_TRUE(Held()) << client_->Output();
  // SIGTERM is the session ending: the monitor leaves its queue as it is, paused.
  client_->Signal(SIGTERM);
  EXPECT_EQ(client_->WaitForExit(kLong), 0) << client_->Output();
  EXPECT_NE(cups_.QueueStatus("office").find("disabled"), std::string::npos)
      << cups_.QueueStatus("office");
  // A job printed while no client runs waits in CUPS, even across a cupsd restart.
  const std::string job = RandomBytes(1000, 9);
  ASSERT_GT(cups_.Submit("office", job), 0);
  ASSERT_TRUE(cups_.Restart());
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_FALSE(QueueEmpty());
  EXPECT_TRUE(FilesIn(output_).empty());
  // The next client takes it from there: printed exactly once.
  StartClient();
  EXPECT_TRUE(PrintedWhole(1, job)) << cups_.QueueStatus("office") << client_->Output();
  EXPECT_TRUE(Eventually([&] { return QueueEmpty(); }, kLong));
  EXPECT_EQ(FilesIn(output_), std::vector<std::string>{"job-1-PC-A.prn"});
}

TEST_F(AutoPrintClient, TheMonitorCommandReportsEachActionItTakes) {
  auto monitor = StartMonitor();
  ASSERT_TRUE(monitor->WaitForOutput("\"action\":\"hold\"", kLong)) << monitor->Output();
  const std::string job = RandomBytes(5000, 31);
  ASSERT_GT(cups_.Submit("office", job), 0);
  ASSERT_TRUE(PrintedWhole(1, job)) << monitor->Output();
  ASSERT_TRUE(monitor->WaitForOutput("\"action\":\"unlock\"", kLong)) << monitor->Output();
  EXPECT_TRUE(monitor->WaitForOutput(
      R"({"queue":"office","action":"lock","server":"00:1C:F0:AA:0B:01","device":"1"})"));
  monitor->Signal(SIGTERM);
  EXPECT_EQ(monitor->WaitForExit(kLong), 0) << monitor->Output();
  auto actions = Actions(*monitor, "office");
  // This PC still has the device linked after the unlock, so the end leaves the queue released.
  const std::vector<std::string> expected = {"hold", "park",    "link",  "release",
                                             "lock", "release", "unlock"};
  ASSERT_GE(actions.size(), expected.size() + 1) << monitor->Output();
  EXPECT_EQ(std::vector<std::string>(actions.begin(), actions.begin() + 7), expected);
  EXPECT_EQ(actions.back(), "ended");
  EXPECT_EQ(std::count(actions.begin(), actions.end(), "park"), 1);
}

TEST_F(AutoPrintClient, AJobOnATcpIpQueueIsRefusedAndDeletedEachTime) {
  // An entry the device setup would refuse, stored by hand: its queue prints to a TCP/IP port.
  ASSERT_TRUE(cups_.AddQueue("network", "socket://127.0.0.9:9100"));
  AutoConnectInfo info;
  info.ServerName = "OFFICE-HUB";
  info.ServerIP = kHubIp;
  info.ServerMAC = kHubMac;
  info.DeviceVid = "04F9";
  info.DevicePid = "0042";
  info.DeviceSNo = "LW2040-00731";
  SqliteRegistry registry(HivePaths{pc_->userHive, pc_->machineHive});
  ASSERT_TRUE(ReadDeviceEntry(registry, AppRegistryKey, info));
  info.PrinterName = "network";
  info.PrinterPort = "socket://127.0.0.9:9100";
  ASSERT_TRUE(WriteDeviceEntry(registry, AppRegistryKey, info));

  auto monitor = StartMonitor();
  ASSERT_TRUE(monitor->WaitForOutput("\"action\":\"hold\"", kLong)) << monitor->Output();
  for (int job = 1; job <= 2; ++job) {
    SCOPED_TRACE(job);
    ASSERT_GT(cups_.Submit("network", "page\n"), 0);
    EXPECT_TRUE(monitor->WaitForOutputCount("\"action\":\"port-refused\"", job, kLong))
        << monitor->Output();
    EXPECT_TRUE(Eventually(
        [&] {
          return cups_.Tool("lpstat", {"-o", "network"}).out.empty();
        },
        kLong));
  }
  EXPECT_TRUE(
      monitor->WaitForOutput("The port of auto-connect can not be a LPR / Raw TCP / SMB port."));
  EXPECT_EQ(Printer().at("owner"), "") << "the device was never taken";
  monitor->Signal(SIGTERM);
  EXPECT_EQ(monitor->WaitForExit(kLong), 0);
  EXPECT_EQ(Actions(*monitor, "network").back(), "ended");
  EXPECT_TRUE(FilesIn(output_).empty());
}

// A device this PC connected by hand is only locked for a job, never linked again; a queue
// deleted ends its monitor while the command goes on.
TEST_F(AutoPrintClient, ADeviceConnectedByHandIsOnlyLockedAndADeletedQueueEndsTheMonitor) {
  ASSERT_TRUE(lab_.AttachAll(*pc_, {kHubIp}));
  ASSERT_EQ(lab_.Cli(*pc_, {"link", kHubIp, "1"}).exitCode, 0);
  auto monitor = StartMonitor();
  ASSERT_TRUE(monitor->WaitForOutput("\"action\":\"hold\"", kLong)) << monitor->Output();
  const std::string job = RandomBytes(3000, 41);
  ASSERT_GT(cups_.Submit("office", job), 0);
  EXPECT_TRUE(PrintedWhole(1, job)) << monitor->Output();
  ASSERT_TRUE(monitor->WaitForOutput("\"action\":\"unlock\"", kLong)) << monitor->Output();
  auto actions = Actions(*monitor, "office");
  EXPECT_EQ(std::count(actions.begin(), actions.end(), "link"), 0) << monitor->Output();
  EXPECT_EQ(std::count(actions.begin(), actions.end(), "lock"), 1) << monitor->Output();

  ASSERT_EQ(cups_.Tool("lpadmin", {"-x", "office"}).exitCode, 0);
  EXPECT_TRUE(monitor->WaitForOutput("\"action\":\"ended\"", kLong)) << monitor->Output();
  EXPECT_TRUE(monitor->Running());
  monitor->Signal(SIGTERM);
  EXPECT_EQ(monitor->WaitForExit(kLong), 0);
}

}  // namespace
}  // namespace tessaro::testing
