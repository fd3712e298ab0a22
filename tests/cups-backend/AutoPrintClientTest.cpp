// SPDX-License-Identifier: GPL-2.0-or-later
// Auto-connect printing end to end: the real client program (off-screen) runs the print monitor
// of a stored entry over a private cupsd whose queue uses the real backend, next to real busd and
// hubd processes. Nobody presses Connect: the monitor holds the queue, links and locks the device
// when a job waits, and the job's bytes arrive in one file at the server.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <functional>
#include <random>
#include <thread>

#include "app/Settings.h"
#include "autoconnect/AutoConnectStore.h"
#include "platform/linux/SqliteRegistry.h"
#include "tests/integration/Lab.h"
#include "tests/support/PrivateCups.h"
#include "tests/support/Process.h"
#include "tests/support/Watchdog.h"

using namespace tessaro::testing;

namespace tessaro {
namespace {

constexpr const char* kHubIp = "127.0.0.2";
constexpr const char* kHubMac = "00:1C:F0:AA:0B:01";
constexpr const char* kUri = "tessaro://00-1C-F0-AA-0B-01/04F9/0042?serial=LW2040-00731";
constexpr auto kLong = std::chrono::seconds(20);

// The finished files of `folder`, or its hidden ones (jobs being written).
std::vector<std::string> FilesIn(const std::string& folder, bool hidden = false) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(folder.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      if ((name[0] == '.') == hidden) names.push_back(name);
    }
    ::closedir(d);
  }
  return names;
}

std::string RandomBytes(size_t size, unsigned seed) {
  std::string data(size, '\0');
  std::mt19937 random(seed);
  for (char& c : data) c = static_cast<char>(random());
  return data;
}

class AutoPrintClient : public ::testing::Test {
 protected:
  void SetUp() override {
    ::mkdir(output_.c_str(), 0755);
    std::string devices = PrinterAndStorage();
    devices.insert(devices.find("serial = LW2040-00731\n"), "output-folder = " + output_ + "\n");
    devices_ = devices;
    StartHub();
    pc_ = &lab_.StartPc("PC-A", {kHubIp});
    other_ = &lab_.StartPc("PC-B", {kHubIp});
    ASSERT_TRUE(lab_.WaitForServerState(*pc_, kHubIp, "1"));
    ASSERT_TRUE(lab_.WaitForServerState(*other_, kHubIp, "1"));
    ASSERT_TRUE(lab_.AttachAll(*other_, {kHubIp}));
    ASSERT_TRUE(cups_.Running());
    ASSERT_TRUE(cups_.InstallBackend("tessaro", Lab::Binary("cups-backend/tessaro")));
    ASSERT_TRUE(cups_.AddQueue("office", kUri));
    // The user enabled the server and chose the queue for the printer in the device setup.
    ServerInfoReg server;
    server.ServerName = "OFFICE-HUB";
    server.ServerIP = kHubIp;
    server.ServerMAC = kHubMac;
    server.ServerEnable = 1;
    SqliteRegistry registry(HivePaths{pc_->userHive, pc_->machineHive});
    ASSERT_TRUE(WriteServerEntry(registry, AppRegistryKey, server));
    auto env = pc_->Env();
    env["CUPS_SERVER"] = cups_.socket();
    const auto added = RunCommand(Lab::Binary("cli/tessaro-cli"),
                                  {"auto-print", "add", kHubIp, "1", "office"}, env);
    ASSERT_EQ(added.exitCode, 0) << added.out << added.err;
  }

  void StartHub() { hubProcess_ = &lab_.StartHub({kHubIp, "OFFICE-HUB", kHubMac, devices_, {}}); }
  void StartClient() {
    auto env = pc_->Env();
    env["CUPS_SERVER"] = cups_.socket();
    env["TESSARO_TRACE"] = "1";
    env["TESSARO_UI_LOG"] = lab_.dir() / "ui.log";
    env["XDG_RUNTIME_DIR"] = lab_.dir() / "xdg";
    env["QT_QPA_PLATFORM"] = "offscreen";
    client_ = std::make_unique<Process>(Lab::Binary("app/tessaro-utility"),
                                        std::vector<std::string>{"-mini"}, env);
    ASSERT_TRUE(client_->Start());
  }
  // The client's monitor has opened the queue and holds it.
  bool Held() {
    return Eventually(
        [&] { return cups_.QueueStatus("office").find("Held:") != std::string::npos; }, kLong);
  }
  // The printer's row as PC-A's busd sees it.
  JsonLine Printer() {
    for (const JsonLine& row : lab_.Devices(*pc_, kHubIp))
      if (row.at("deviceNumber") == "1") return row;
    return {};
  }
  bool QueueEmpty() { return cups_.Tool("lpstat", {"-o", "office"}).out.empty(); }
  std::string Printed(int job) {
    return ReadTextFile(output_ + "/job-" + std::to_string(job) + "-PC-A.prn");
  }
  bool PrintedWhole(int job, const std::string& bytes) {
    return Eventually([&] { return Printed(job).size() == bytes.size(); }, kLong) &&
           Printed(job) == bytes;
  }

  Watchdog watchdog_{std::chrono::seconds(120)};
  Lab lab_;
  Lab::Pc* pc_ = nullptr;
  Lab::Pc* other_ = nullptr;
  const std::string output_ = lab_.dir() / "prints";
  // The backend finds PC-A's busd through the variable cupsd passes it. A job whose sending
  // failed part-way is sent again after 1 s here, not the installed default's 5 minutes.
  PrivateCups cups_{"JobRetryInterval 1\n",
                    "SetEnv TESSARO_RUNTIME_DIR " + (lab_.dir() / "pc-PC-A") + "\n"};
  std::unique_ptr<Process> client_;
  std::string devices_;
  Process* hubProcess_ = nullptr;
};

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
  // The monitor's cadence is 2 s between looks: two of them and the job still waits.
  std::this_thread::sleep_for(std::chrono::milliseconds(4500));
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

// The client killed while this PC holds the device: the job under way and one sent afterwards
// still print once each, and the next client unlocks the device once the queue is empty.
TEST_F(AutoPrintClient, AClientKilledWhileItHoldsTheDeviceLosesNoJob) {
  StartClient();
  ASSERT_TRUE(Held()) << client_->Output();
  const std::string first = RandomBytes(16 * 1024 * 1024, 21);
  ASSERT_GT(cups_.Submit("office", first), 0);
  ASSERT_TRUE(Eventually([&] { return !FilesIn(output_, true).empty(); }, kLong));
  client_->Signal(SIGKILL);
  ASSERT_TRUE(client_->WaitForExit(kLong).has_value());
  EXPECT_EQ(Printer().at("owner"), "PC-A");
  const std::string second = RandomBytes(2000, 22);
  ASSERT_GT(cups_.Submit("office", second), 0);
  EXPECT_TRUE(PrintedWhole(1, first)) << cups_.QueueStatus("office");
  EXPECT_TRUE(PrintedWhole(2, second)) << cups_.QueueStatus("office");
  StartClient();
  EXPECT_TRUE(Eventually([&] { return Printer().at("lockCount") == "0"; }, kLong))
      << Printer().at("lockCount");
  EXPECT_TRUE(QueueEmpty());
  EXPECT_EQ(FilesIn(output_).size(), 2u);
}

}  // namespace
}  // namespace tessaro
