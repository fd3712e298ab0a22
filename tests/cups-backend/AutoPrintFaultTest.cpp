// SPDX-License-Identifier: GPL-2.0-or-later
// Faults under auto-connect printing, end to end: hubd or busd killed in the middle of a large
// job, the client killed while this PC holds the device, cupsd and busd restarted under a
// monitor. Every job arrives exactly once,
// byte for byte.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <functional>

#include "tests/cups-backend/AutoPrintFixture.h"

namespace tessaro::testing {
namespace {

// A job cut short part-way by a killed daemon is sent again by CUPS once the daemon is back, and
// arrives exactly once, whole; the cases run one after the other on the same client.
TEST_F(AutoPrintClient, AJobCutShortByAKilledDaemonIsPrintedOnceWhenItIsBack) {
  const struct {
    const char* daemon;
    std::function<void()> killAndRestart;
  } cases[] = {
      {"hubd",
       [&] {
         hubProcess_->Signal(SIGKILL);
         lab_.StopHub(kHubIp);
         StartHub();
       }},
      {"busd",
       [&] {
         lab_.StopBusd(*pc_);
         lab_.StartBusd(*pc_);
       }},
  };
  StartClient();
  ASSERT_TRUE(Held()) << client_->Output();
  std::vector<std::string> jobs;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.daemon);
    jobs.push_back(RandomBytes(32 * 1024 * 1024, static_cast<unsigned>(jobs.size()) + 13));
    ASSERT_GT(cups_.Submit("office", jobs.back()), 0);
    // The sink writes under a hidden name until the job's end arrives.
    ASSERT_TRUE(Eventually([&] { return !FilesIn(output_, true).empty(); }, kLong))
        << cups_.QueueStatus("office");
    c.killAndRestart();
    ASSERT_TRUE(PrintedWhole(static_cast<int>(jobs.size()), jobs.back()))
        << cups_.QueueStatus("office") << cups_.Tool("lpstat", {"-l", "-o"}).out;
    EXPECT_TRUE(Eventually([&] { return QueueEmpty(); }, kLong));
  }
  EXPECT_EQ(FilesIn(output_).size(), jobs.size());
  EXPECT_TRUE(FilesIn(output_, true).empty());
}

// The client killed while this PC holds the device: the job under way and one sent while no
// client runs still print once each. The device stays this PC's and locked, and the next client,
// given a job, takes it as a device connected by hand and unlocks it once the queue is empty.
TEST_F(AutoPrintClient, AClientKilledWhileItHoldsTheDeviceLosesNoJob) {
  StartClient();
  ASSERT_TRUE(Held()) << client_->Output();
  const std::string first = RandomBytes(16 * 1024 * 1024, 21);
  ASSERT_GT(cups_.Submit("office", first), 0);
  ASSERT_TRUE(Eventually([&] { return !FilesIn(output_, true).empty(); }, kLong));
  client_->Signal(SIGKILL);
  ASSERT_TRUE(client_->WaitForExit(kLong).has_value());
  EXPECT_EQ(Printer().at("owner"), "PC-A");
  // A fast job may end, and the first client unlock, before the kill lands: the lock a client
  // killed mid-job leaves is then put back, so that every run shows the next client ending it.
  if (Printer().at("lockCount") == "0") {
    ASSERT_EQ(lab_.Cli(*pc_, {"lock", kHubIp, "1", "1", "1200"}).exitCode, 0);
  }
  ASSERT_EQ(Printer().at("lockCount"), "1");
  const std::string second = RandomBytes(2000, 22);
  ASSERT_GT(cups_.Submit("office", second), 0);
  EXPECT_TRUE(PrintedWhole(1, first)) << cups_.QueueStatus("office");
  EXPECT_TRUE(PrintedWhole(2, second)) << cups_.QueueStatus("office");
  ASSERT_TRUE(Eventually([&] { return QueueEmpty(); }, kLong));
  StartClient();
  ASSERT_TRUE(Held()) << client_->Output();
  const std::string third = RandomBytes(3000, 23);
  ASSERT_GT(cups_.Submit("office", third), 0);
  EXPECT_TRUE(PrintedWhole(3, third)) << cups_.QueueStatus("office");
  EXPECT_TRUE(Eventually([&] { return Printer().at("lockCount") == "0"; }, kLong))
      << Printer().at("lockCount");
  EXPECT_TRUE(QueueEmpty());
  EXPECT_EQ(Printer().at("owner"), "PC-A");
  EXPECT_EQ(FilesIn(output_).size(), 3u);
}

// cupsd restarted while a job waits held (another PC has the device): the job is still there
// afterwards and prints once that PC lets the device go.
TEST_F(AutoPrintClient, AJobHeldAcrossACupsdRestartPrintsOnce) {
  ASSERT_EQ(lab_.Cli(*other_, {"link", kHubIp, "1"}).exitCode, 0);
  ASSERT_EQ(lab_.Cli(*other_, {"lock", kHubIp, "1", "2", "3600"}).exitCode, 0);
  auto monitor = StartMonitor();
  ASSERT_TRUE(monitor->WaitForOutput("\"action\":\"hold\"", kLong)) << monitor->Output();
  const std::string job = RandomBytes(20 * 1000, 51);
  ASSERT_GT(cups_.Submit("office", job), 0);
  ASSERT_TRUE(monitor->WaitForOutput("\"action\":\"link-failed\"", kLong)) << monitor->Output();
  ASSERT_TRUE(cups_.Restart());
  EXPECT_FALSE(QueueEmpty());
  EXPECT_NE(cups_.QueueStatus("office").find("disabled"), std::string::npos);
  ASSERT_EQ(lab_.Cli(*other_, {"unlock", kHubIp, "1", "2", "0"}).exitCode, 0);
  ASSERT_EQ(lab_.Cli(*other_, {"unlink", kHubIp, "1"}).exitCode, 0);
  EXPECT_TRUE(PrintedWhole(1, job)) << cups_.QueueStatus("office") << monitor->Output();
  EXPECT_TRUE(Eventually([&] { return QueueEmpty(); }, kLong));
  monitor->Signal(SIGTERM);
  EXPECT_EQ(monitor->WaitForExit(kLong), 0);
  EXPECT_EQ(FilesIn(output_), std::vector<std::string>{"job-1-PC-A.prn"});
}

// busd restarted under `tessaro-cli monitor`: the monitor opens the bus again and attaches its
// server, so a job sent afterwards is printed as if nothing had happened.
TEST_F(AutoPrintClient, TheCommandLineMonitorCarriesOnAcrossABusdRestart) {
  auto monitor = StartMonitor();
  ASSERT_TRUE(monitor->WaitForOutput("\"action\":\"hold\"", kLong)) << monitor->Output();
  lab_.StopBusd(*pc_);
  lab_.StartBusd(*pc_);
  const std::string job = RandomBytes(20 * 1000, 61);
  ASSERT_GT(cups_.Submit("office", job), 0);
  EXPECT_TRUE(PrintedWhole(1, job)) << cups_.QueueStatus("office") << monitor->Output();
  EXPECT_TRUE(Eventually([&] { return QueueEmpty(); }, kLong));
  monitor->Signal(SIGTERM);
  EXPECT_EQ(monitor->WaitForExit(kLong), 0) << monitor->Output();
}

}  // namespace
}  // namespace tessaro::testing
