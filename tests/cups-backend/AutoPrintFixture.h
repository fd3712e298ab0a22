// SPDX-License-Identifier: GPL-2.0-or-later
// What the auto-connect printing tests run on: a private cupsd whose queue "office" uses the real
// backend, real busd (PC-A and PC-B) and hubd, an enabled server and a stored auto-connect entry
// for its printer; the client program or `tessaro-cli monitor` is started by the case.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <functional>
#include <random>
#include <sstream>
#include <thread>

#include "app/Settings.h"
#include "autoconnect/AutoConnectStore.h"
#include "platform/linux/SqliteRegistry.h"
#include "tests/support/Lab.h"
#include "tests/support/PrivateCups.h"
#include "tests/support/Process.h"
#include "tests/support/Watchdog.h"

namespace tessaro::testing {

inline constexpr const char* kHubIp = "127.0.0.2";
inline constexpr const char* kHubMac = "00:1C:F0:AA:0B:01";
inline constexpr const char* kUri = "tessaro://00-1C-F0-AA-0B-01/04F9/0042?serial=LW2040-00731";
inline constexpr auto kLong = std::chrono::seconds(20);

// The finished files of `folder`, or its hidden ones (jobs being written).
inline std::vector<std::string> FilesIn(const std::string& folder, bool hidden = false) {
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

inline std::string RandomBytes(size_t size, unsigned seed) {
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
    ASSERT_TRUE(cups_.InstallNotifier("tessaro", Lab::Binary("cups-notifier/tessaro")));
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
  // `tessaro-cli --json monitor` as PC-A.
  std::unique_ptr<Process> StartMonitor() {
    auto env = pc_->Env();
    env["CUPS_SERVER"] = cups_.socket();
    auto monitor = std::make_unique<Process>(Lab::Binary("cli/tessaro-cli"),
                                             std::vector<std::string>{"--json", "monitor"}, env);
    EXPECT_TRUE(monitor->Start());
    return monitor;
  }
  // The actions a monitor reported, a run of the same one counted once.
  static std::vector<std::string> Actions(const Process& monitor, const std::string& queue) {
    std::vector<std::string> actions;
    std::istringstream lines(monitor.Output());
    for (std::string line; std::getline(lines, line);) {
      if (line.empty() || line[0] != '{') continue;
      const JsonLine record = ParseFlatJson(line);
      if (record.at("queue") != queue) continue;
      if (actions.empty() || actions.back() != record.at("action"))
        actions.push_back(record.at("action"));
    }
    return actions;
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
  // failed part-way is sent again after 1 s here, not after the default 30 s.
  PrivateCups cups_{"JobRetryInterval 1\n",
                    "SetEnv TESSARO_RUNTIME_DIR " + (lab_.dir() / "pc-PC-A") + "\n"};
  std::unique_ptr<Process> client_;
  std::string devices_;
  Process* hubProcess_ = nullptr;
};

}  // namespace tessaro::testing
