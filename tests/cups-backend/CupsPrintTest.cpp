// SPDX-License-Identifier: GPL-2.0-or-later
// A job printed through a private cupsd to a queue on the real backend: it waits in CUPS, saying
// why, while the printer is not linked to this PC, and arrives whole in one file at the server
// once it is.
#include <dirent.h>
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "tests/support/Lab.h"
#include "tests/support/PrivateCups.h"
#include "tests/support/Process.h"

using tessaro::testing::ReadTextFile;

using namespace tessaro::testing;

namespace {

const char* const kUri = "tessaro://00-1C-F0-AA-0B-01/04F9/0042?serial=LW2040-00731";

// One PC's busd, a server whose printer writes jobs to `output`, and a private cupsd whose queue
// `office` prints to it through the real backend.
class CupsPrint : public ::testing::Test {
 protected:
  void SetUp() override {
    ::mkdir(output.c_str(), 0755);
    std::string devices = PrinterAndStorage();
    devices.insert(devices.find("serial = LW2040-00731\n"), "output-folder = " + output + "\n");
    lab.StartHub({"127.0.0.2", "OFFICE-HUB", "00:1C:F0:AA:0B:01", devices, {}});
    pc = &lab.StartPc("PC-A", {"127.0.0.2"});
    ASSERT_TRUE(lab.WaitForServerState(*pc, "127.0.0.2", "1"));
    // The backend finds busd's sockets through the variable cupsd passes it.
    cups = std::make_unique<PrivateCups>("", "SetEnv TESSARO_RUNTIME_DIR " + pc->runtimeDir + "\n");
    ASSERT_TRUE(cups->Running());
    ASSERT_TRUE(cups->InstallBackend("tessaro", Lab::Binary("cups-backend/tessaro")));
    ASSERT_TRUE(cups->AddQueue("office", kUri));
  }
  // The backend runs and says it waits for the printer to be linked here.
  bool WaitsForTheLink() const {
    const bool waits = Eventually(
        [&] { return cups->QueueStatus("office").find("not connected") != std::string::npos; },
        std::chrono::seconds(20));
    if (!waits) ADD_FAILURE() << cups->Tool("lpstat", {"-l", "-p", "office"}).out;
    return waits;
  }
  std::string Output(int n) const {
    return ReadTextFile(output + "/job-" + std::to_string(n) + "-PC-A.prn");
  }

  Lab lab;
  Lab::Pc* pc = nullptr;
  const std::string output = lab.dir() / "prints";
  std::unique_ptr<PrivateCups> cups;
};

}  // namespace

TEST_F(CupsPrint, AJobWaitsInCupsUntilThePrinterIsLinkedThenArrivesWhole) {
  std::string job(200 * 1000, '\0');
  std::mt19937 random(11);
  for (char& c : job) c = static_cast<char>(random());
  ASSERT_GT(cups->Submit("office", job), 0);
  ASSERT_TRUE(WaitsForTheLink());
  ASSERT_EQ(lab.Cli(*pc, {"link", "127.0.0.2", "1"}).exitCode, 0);
  ASSERT_TRUE(Eventually([&] { return Output(1).size() == job.size(); }, std::chrono::seconds(20)))
      << cups->QueueStatus("office");
  EXPECT_EQ(Output(1), job);
  EXPECT_TRUE(Eventually([&] {
    return cups->Tool("lpstat", {"-o", "office"}).out.empty();
  })) << "the job is done in CUPS";
}

// A raw queue hands the backend the job's file and the copies asked for: it makes them.
TEST_F(CupsPrint, ARawJobOfThreeCopiesArrivesThreeTimes) {
  const std::string file = lab.dir() / "three.txt";
  WriteTextFile(file, "three times\n");
  ASSERT_EQ(cups->Tool("lp", {"-d", "office", "-n", "3", file}).exitCode, 0);
  ASSERT_TRUE(WaitsForTheLink());
  ASSERT_EQ(lab.Cli(*pc, {"link", "127.0.0.2", "1"}).exitCode, 0);
  ASSERT_TRUE(Eventually(
      [&] {
        return cups->Tool("lpstat", {"-o", "office"}).out.empty();
      },
      std::chrono::seconds(20)))
      << cups->QueueStatus("office");
  for (int n = 1; n <= 3; ++n) EXPECT_EQ(Output(n), "three times\n") << "copy " << n;
  EXPECT_EQ(Output(4), "");
}
