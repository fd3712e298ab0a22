// SPDX-License-Identifier: GPL-2.0-or-later
// The print monitor against a private cupsd, with the device side in memory. Its own pauses run
// on a fake clock; the spooler's 2000 ms change waits are real.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "host/WindowsVersion.h"
#include "platform/linux/CupsSpooler.h"
#include "printing/PrintMonitors.h"
#include "tests/printing/PrintingFakes.h"
#include "tests/support/FakeClock.h"
#include "tests/support/PrivateCups.h"
#include "tests/support/Watchdog.h"

namespace tessaro {
namespace {

using testing::Eventually;
using testing::FakeDeviceSide;
using testing::kThisPc;
using testing::PrivateCups;

constexpr const char* kDeviceUri = "tessaro://00-1C-F0-AA-0B-01/04F9/0042?serial=LW-1";
constexpr auto kLong = std::chrono::seconds(15);

struct NoEvents : EventPump {
  void ProcessPendingEvents() override {}
};

const char* const kNoPausePolicy =
    "<Policy nopause>\n  <Limit Pause-Printer Resume-Printer>\n    AuthType Default\n"
    "    Require user nobody\n    Order deny,allow\n  </Limit>\n"
    "  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";

class PrintThreadTest : public ::testing::Test {
 protected:
  explicit PrintThreadTest(const std::string& cupsConfig = {}) : cups_(cupsConfig) {}
  void SetUp() override { ASSERT_TRUE(cups_.Running()); }
  void TearDown() override {
    device_.LetBoxesClose();  // a monitor in its box would never end
    Stop();
  }

  // An entry of `list` for the device on `queue`, whose monitor starts at once.
  AutoLinkPrinter& Watch(const std::string& queue, const std::string& uri = kDeviceUri,
                         MonitorList kind = MonitorList::Printer) {
    EXPECT_TRUE(cups_.AddQueue(queue, uri));
    auto entry = std::make_unique<AutoLinkPrinter>();
    entry->ServerMAC = testing::kServerMac;
    entry->DeviceVid = "04F9";
    entry->DevicePid = "0042";
    entry->DeviceSNo = "LW-1";
    entry->PrinterName = queue;
    AutoLinkList& list = kind == MonitorList::Fax ? faxes_ : printers_;
    list.push_back(std::move(entry));
    monitors_.StartPrintMonitors(list, kind, list.size() - 1);
    return *list.back();
  }
  // The monitor has opened its queue and held it.
  bool Holding(const std::string& queue) {
    return Eventually(
        [&] { return cups_.QueueStatus(queue).find(kHeldQueueMessage) != std::string::npos; },
        kLong);
  }
  void Stop() {
    monitors_.StopPrintMonitors(printers_, pump_);
    monitors_.StopPrintMonitors(faxes_, pump_);
  }
  std::string Printed(int job) {
    std::ifstream in(cups_.OutputFolder() + "/job-" + std::to_string(job) + ".prn");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  bool Waiting(const std::string& queue) {
    return !cups_.Tool("lpstat", {"-o", queue}).out.empty();
  }

  testing::Watchdog watchdog_{std::chrono::seconds(90)};
  PrivateCups cups_;
  CupsSpooler cupsSpooler_{cups_.socket()};
  testing::RecordingSpooler spooler_{cupsSpooler_};
  FakeDeviceSide device_;
  testing::FakeClock clock_;
  NoEvents pump_;
  AutoLinkList printers_;
  AutoLinkList faxes_;
  PrintMonitors monitors_{{spooler_, device_, clock_, kThisPc, kWinNT5OrLater}};
};

TEST_F(PrintThreadTest, AJobOnAFreeDeviceIsPrintedBetweenLinkLockAndUnlock) {
  const struct {
    MonitorList kind;
    const char* queue;
    const char* unlock;
  } cases[] = {
      {MonitorList::Printer, "laser", "unlock 41 3 kind1 0"},
      {MonitorList::Fax, "fax", "unlock 41 3 kind1 180"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.queue);
    device_.Set([](FakeDeviceSide& d) { d.owner.clear(); });
    const size_t logged = device_.log().size();
    const int unlocks = device_.Count("unlock");
    Watch(c.queue, kDeviceUri, c.kind);
    ASSERT_TRUE(Holding(c.queue));
    const int job = cups_.Submit(c.queue, "page one\n");
    EXPECT_TRUE(Eventually([&] { return Printed(job) == "page one\n"; }, kLong));
    EXPECT_TRUE(Eventually([&] { return device_.Count("unlock") > unlocks; }, kLong));
    Stop();
    const auto log = device_.log();
    EXPECT_EQ(std::vector<std::string>(log.begin() + static_cast<long>(logged), log.end()),
              (std::vector<std::string>{"link", "lock 41 3 kind1 1200", c.unlock}));
    // Parked for the link, released after it and again after the lock.
    const auto holds = spooler_.holds();
    const auto parked = std::find(holds.rbegin(), holds.rend(), "parked");
    ASSERT_NE(parked, holds.rend());
    EXPECT_EQ(std::vector<std::string>(parked.base() - 1, parked.base() + 2),
              (std::vector<std::string>{"parked", "released", "released"}));
    printers_.clear();
    faxes_.clear();
  }
}

TEST_F(PrintThreadTest, AJobWaitsWhileAnotherPcHoldsTheDeviceAndPrintsOnceItIsFree) {
  device_.HeldByOther(true);
  Watch("laser");
  ASSERT_TRUE(Holding("laser"));
  const int job = cups_.Submit("laser", "later\n");
  // Each pass with the job waiting tries again.
  EXPECT_TRUE(Eventually([&] { return device_.Count("link-failed") >= 2; }, kLong));
  EXPECT_TRUE(Waiting("laser"));
  EXPECT_EQ(Printed(job), "");
  EXPECT_EQ(device_.Count("lock"), 0);
  device_.HeldByOther(false);
  EXPECT_TRUE(Eventually([&] { return Printed(job) == "later\n"; }, kLong));
  EXPECT_EQ(device_.Count("link"), 1);
}

TEST_F(PrintThreadTest, ALookUpThatThrowsIsLoggedAndTheJobWaitsForTheNextOne) {
  device_.Set([](FakeDeviceSide& d) { d.lookupFails = true; });
  Watch("laser");
  ASSERT_TRUE(Holding("laser"));
  const int job = cups_.Submit("laser", "later\n");
  EXPECT_TRUE(Eventually([&] { return device_.Count("failure") >= 1; }, kLong));
  const auto log = device_.log();
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "failure print monitor of laser: the device look-up failed: the main "
                      "thread is gone"),
            log.end());
  EXPECT_EQ(Printed(job), "");
  device_.Set([](FakeDeviceSide& d) { d.lookupFails = false; });
  EXPECT_TRUE(Eventually([&] { return Printed(job) == "later\n"; }, kLong));
}

TEST_F(PrintThreadTest, ADeviceConnectedByHandIsOnlyLocked) {
  device_.Set([](FakeDeviceSide& d) { d.owner = kThisPc; });
  Watch("laser");
  ASSERT_TRUE(Holding("laser"));
  const int job = cups_.Submit("laser", "mine\n");
  EXPECT_TRUE(Eventually([&] { return Printed(job) == "mine\n"; }, kLong));
  EXPECT_TRUE(Eventually([&] { return device_.Count("unlock") == 1; }, kLong));
  EXPECT_EQ(device_.Count("link"), 0);
  EXPECT_EQ(device_.Count("lock"), 1);
}

TEST_F(PrintThreadTest, AJobOnATcpIpPortBringsTheBoxAndIsDeletedEachTime) {
  Watch("raw", "socket://127.0.0.1:9");
  ASSERT_TRUE(Holding("raw"));
  const std::string box =
      "message Tessaro Utility: The port of auto-connect can not be a LPR / Raw TCP / SMB port.";
  for (int n = 1; n <= 2; ++n) {
    SCOPED_TRACE(n);
    const int job = cups_.Submit("raw", "refused\n");
    EXPECT_TRUE(Eventually([&] { return device_.Count("message") == n; }, kLong));
    EXPECT_TRUE(Eventually([&] { return !Waiting("raw"); }, kLong));
    const auto calls = spooler_.calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "delete " + std::to_string(job) + " 5"),
              calls.end());
  }
  EXPECT_EQ(device_.log().front(), box);
  EXPECT_EQ(device_.Count("link"), 0);
}

// A job held with `lp -H` waits for its owner, not for the device: it takes no device until it is
// released.
TEST_F(PrintThreadTest, AHeldJobTakesNoDeviceUntilItIsReleased) {
  Watch("laser");
  ASSERT_TRUE(Holding("laser"));
  const std::string file = cups_.folder() + "/held-job";
  testing::WriteTextFile(file, "held\n");
  const auto submitted = cups_.Tool("lp", {"-d", "laser", "-H", "indefinite", file});
  ASSERT_EQ(submitted.exitCode, 0);
  const size_t dash = submitted.out.rfind('-', submitted.out.find(" ("));
  ASSERT_NE(dash, std::string::npos) << submitted.out;
  const int job = std::atoi(submitted.out.c_str() + dash + 1);
  // Each quiet wait holds the queue again: two of them after the job came, and it took nothing.
  const size_t holds = spooler_.holds().size();
  ASSERT_TRUE(Eventually([&] { return spooler_.holds().size() >= holds + 2; }, kLong));
  EXPECT_EQ(device_.Count("link"), 0);
  EXPECT_EQ(device_.Count("lock"), 0);
  ASSERT_EQ(cups_.Tool("lp", {"-i", "laser-" + std::to_string(job), "-H", "resume"}).exitCode, 0);
  EXPECT_TRUE(Eventually([&] { return Printed(job) == "held\n"; }, kLong));
  EXPECT_EQ(device_.Count("link"), 1);
}

// A port list that cannot be read (cupsd restarting, a time-out) says nothing about the port: the
// job waits and the port is looked at again, and only a port known to be unsuitable is refused.
TEST_F(PrintThreadTest, AnUnreadablePortListIsLookedAtAgainNeverRefused) {
  spooler_.portsFail = true;
  Watch("raw", "socket://127.0.0.1:9");
  ASSERT_TRUE(Holding("raw"));
  const int job = cups_.Submit("raw", "kept\n");
  ASSERT_TRUE(Eventually([&] { return spooler_.Count("ports") >= 2; }, kLong));
  EXPECT_EQ(device_.Count("message"), 0);
  EXPECT_TRUE(Waiting("raw"));
  spooler_.portsFail = false;
  EXPECT_TRUE(Eventually([&] { return device_.Count("message") == 1; }, kLong));
  EXPECT_TRUE(Eventually([&] { return !Waiting("raw"); }, kLong)) << "job " << job;
  EXPECT_EQ(device_.Count("link"), 0);
}

// Older Windows cancel the job instead of deleting it.
TEST_F(PrintThreadTest, OnOlderWindowsTheRefusedJobIsCancelled) {
  PrintMonitors older{{spooler_, device_, clock_, kThisPc, 0}};
  ASSERT_TRUE(cups_.AddQueue("raw", "socket://127.0.0.1:9"));
  AutoLinkList list;
  list.push_back(std::make_unique<AutoLinkPrinter>());
  list.back()->ServerMAC = testing::kServerMac;
  list.back()->DeviceVid = "04F9";
  list.back()->DevicePid = "0042";
  list.back()->DeviceSNo = "LW-1";
  list.back()->PrinterName = "raw";
  older.StartPrintMonitors(list, MonitorList::Printer);
  ASSERT_TRUE(Holding("raw"));
  const int job = cups_.Submit("raw", "refused\n");
  EXPECT_TRUE(Eventually([&] { return !Waiting("raw"); }, kLong));
  older.StopPrintMonitors(list, pump_);
  const auto calls = spooler_.calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "delete " + std::to_string(job) + " 3"),
            calls.end());
}

// The box waits for the user on the monitor that showed it; the other monitors go on.
TEST_F(PrintThreadTest, AnOpenBoxHoldsBackOnlyItsOwnMonitor) {
  device_.HoldBoxes();
  Watch("raw", "socket://127.0.0.1:9");
  Watch("laser");
  ASSERT_TRUE(Holding("raw"));
  ASSERT_TRUE(Holding("laser"));
  const int refused = cups_.Submit("raw", "refused\n");
  ASSERT_TRUE(Eventually([&] { return device_.Count("message") == 1; }, kLong));
  const int job = cups_.Submit("laser", "meanwhile\n");
  EXPECT_TRUE(Eventually([&] { return Printed(job) == "meanwhile\n"; }, kLong));
  EXPECT_TRUE(Waiting("raw")) << "deleted before the box was answered";
  device_.LetBoxesClose();
  EXPECT_TRUE(Eventually([&] { return !Waiting("raw"); }, kLong)) << "job " << refused;
}

TEST_F(PrintThreadTest, ASerialPortPassesThePortCheck) {
  Watch("serial", "serial:/dev/ttyS0?baud=9600");
  ASSERT_TRUE(Holding("serial"));
  cups_.Submit("serial", "to the serial port\n");
  EXPECT_TRUE(Eventually([&] { return device_.Count("lock") == 1; }, kLong));
  EXPECT_EQ(device_.Count("link"), 1);
  EXPECT_EQ(device_.Count("message"), 0);
}

TEST_F(PrintThreadTest, TheMonitorEndsWhenItsQueueIsDeleted) {
  AutoLinkPrinter& entry = Watch("laser");
  ASSERT_TRUE(Holding("laser"));
  TPrintThread* monitor = monitors_.MonitorOf(entry);
  ASSERT_NE(monitor, nullptr);
  ASSERT_EQ(cups_.Tool("lpadmin", {"-x", "laser"}).exitCode, 0);
  EXPECT_TRUE(Eventually([&] { return monitor->Finished(); }, kLong));
}

TEST_F(PrintThreadTest, StartingAgainKeepsTheRunningMonitorAndReplacesAnEndedOne) {
  AutoLinkPrinter& entry = Watch("laser");
  TPrintThread* first = monitors_.MonitorOf(entry);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(entry.Thread, first);
  monitors_.StartPrintMonitors(printers_, MonitorList::Printer);
  EXPECT_EQ(monitors_.MonitorOf(entry), first);
  EXPECT_EQ(entry.Thread, first);
  // A monitor whose queue went is replaced by the next start.
  ASSERT_TRUE(Holding("laser"));
  ASSERT_EQ(cups_.Tool("lpadmin", {"-x", "laser"}).exitCode, 0);
  ASSERT_TRUE(Eventually([&] { return first->Finished(); }, kLong));
  monitors_.StartPrintMonitors(printers_, MonitorList::Printer);
  EXPECT_NE(monitors_.MonitorOf(entry), nullptr);
  EXPECT_FALSE(monitors_.MonitorOf(entry)->Finished());
}

// After a stop the queue is parked unless this PC uses the device, so jobs printed while the
// client is not running wait; when the session ends the queue is left as it is.
TEST_F(PrintThreadTest, StoppingParksTheQueueUnlessThisPcUsesTheDevice) {
  const struct {
    const char* label;
    const char* owner;
    bool sessionEnding;
    const char* message;
  } cases[] = {
      {"device free", "", false, kParkedQueueMessage},
      {"device of another PC", "OTHER-PC", false, kParkedQueueMessage},
      {"session ending", "", true, kHeldQueueMessage},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string queue = "q" + std::to_string(++n);
    device_.Set([&](FakeDeviceSide& d) {
      d.owner = c.owner;
      d.sessionEnding = false;
    });
    Watch(queue);
    ASSERT_TRUE(Holding(queue));
    device_.Set([&](FakeDeviceSide& d) { d.sessionEnding = c.sessionEnding; });
    Stop();
    EXPECT_NE(cups_.QueueStatus(queue).find(c.message), std::string::npos)
        << cups_.QueueStatus(queue);
    printers_.clear();
  }
  // This PC uses the device: the queue stays released.
  device_.Set([](FakeDeviceSide& d) {
    d.owner = kThisPc;
    d.sessionEnding = false;
  });
  Watch("mine");
  ASSERT_TRUE(Holding("mine"));
  // The next quiet wait releases it.
  ASSERT_TRUE(Eventually(
      [&] { return cups_.QueueStatus("mine").find("enabled") != std::string::npos; }, kLong));
  Stop();
  EXPECT_NE(cups_.QueueStatus("mine").find("enabled"), std::string::npos);
}

TEST_F(PrintThreadTest, ADeviceGoneAfterTheAskedRefreshIsNotUsed) {
  device_.Set([](FakeDeviceSide& d) {
    d.spurOpen = false;
    d.dropDeviceOnRefresh = true;
  });
  Watch("laser");
  ASSERT_TRUE(Holding("laser"));
  cups_.Submit("laser", "nowhere\n");
  EXPECT_TRUE(Eventually([&] { return device_.Count("refresh") >= 2; }, kLong));
  Stop();
  EXPECT_EQ(device_.Count("open-bus"), 1);
  EXPECT_EQ(device_.Count("link"), 0);
  EXPECT_EQ(device_.Count("link-failed"), 0);
  EXPECT_TRUE(Waiting("laser"));
}

class RefusedRightsPrintThreadTest : public PrintThreadTest {
 protected:
  RefusedRightsPrintThreadTest() : PrintThreadTest(kNoPausePolicy) {}
};

TEST_F(RefusedRightsPrintThreadTest, WithTheUseRightOnlyTheDeviceIsStillLinkedAndLocked) {
  // The serial stand-in cannot print: its job waits in the queue it stopped, whatever the
  // monitor may do to the queue.
  ASSERT_TRUE(cups_.AddQueue("serial", "serial:/dev/ttyS0"));
  ASSERT_EQ(cups_.Tool("lpadmin", {"-p", "serial", "-o", "printer-op-policy=nopause"}).exitCode, 0);
  ASSERT_GT(cups_.Submit("serial", "waits\n"), 0);
  auto entry = std::make_unique<AutoLinkPrinter>();
  entry->ServerMAC = testing::kServerMac;
  entry->DeviceVid = "04F9";
  entry->DevicePid = "0042";
  entry->DeviceSNo = "LW-1";
  entry->PrinterName = "serial";
  printers_.push_back(std::move(entry));
  monitors_.StartPrintMonitors(printers_, MonitorList::Printer);
  EXPECT_TRUE(Eventually([&] { return device_.Count("lock") == 1; }, kLong));
  Stop();
  const auto calls = spooler_.calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 3),
            (std::vector<std::string>{"open 983052", "open 4", "open 8"}));
  EXPECT_EQ(spooler_.holds(), std::vector<std::string>{"held"});
  EXPECT_EQ(device_.Count("link"), 1);
}

const char* const kNoSubscriptionPolicy =
    "<Policy nosubscribe>\n  <Limit Create-Printer-Subscriptions>\n    AuthType Default\n"
    "    Require user nobody\n    Order deny,allow\n  </Limit>\n"
    "  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";

class RefusedSubscriptionPrintThreadTest : public PrintThreadTest {
 protected:
  RefusedSubscriptionPrintThreadTest() : PrintThreadTest(kNoSubscriptionPolicy) {}
};

// Without change events the monitor looks at the queue every 2 s on the queue it opened: jobs
// print and the device is unlocked once they are done.
TEST_F(RefusedSubscriptionPrintThreadTest, TheQueueIsPolledAndItsJobsPrint) {
  ASSERT_TRUE(cups_.AddQueue("laser", kDeviceUri));
  ASSERT_EQ(cups_.Tool("lpadmin", {"-p", "laser", "-o", "printer-op-policy=nosubscribe"}).exitCode,
            0);
  auto entry = std::make_unique<AutoLinkPrinter>();
  entry->ServerMAC = testing::kServerMac;
  entry->DeviceVid = "04F9";
  entry->DevicePid = "0042";
  entry->DeviceSNo = "LW-1";
  entry->PrinterName = "laser";
  printers_.push_back(std::move(entry));
  monitors_.StartPrintMonitors(printers_, MonitorList::Printer);
  ASSERT_TRUE(Holding("laser"));
  const int job = cups_.Submit("laser", "polled\n");
  EXPECT_TRUE(Eventually([&] { return Printed(job) == "polled\n"; }, kLong));
  EXPECT_TRUE(Eventually([&] { return device_.Count("unlock") == 1; }, kLong));
  Stop();
  EXPECT_EQ(device_.Count("link"), 1);
  const auto calls = spooler_.calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "open 983052"), 1) << "opened again";
}

}  // namespace
}  // namespace tessaro
