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

namespace {}  // namespace

TEST(CupsPrint, AJobWaitsInCupsUntilThePrinterIsLinkedThenArrivesWhole) {
  Lab lab;
  const std::string output = lab.dir() / "prints";
  ::mkdir(output.c_str(), 0755);
  std::string devices = PrinterAndStorage();
  devices.insert(devices.find("serial = LW2040-00731\n"), "output-folder = " + output + "\n");
  lab.StartHub({"127.0.0.2", "OFFICE-HUB", "00:1C:F0:AA:0B:01", devices, {}});
  auto& pc = lab.StartPc("PC-A", {"127.0.0.2"});
  ASSERT_TRUE(lab.WaitForServerState(pc, "127.0.0.2", "1"));

  // The backend finds busd's sockets through the variable cupsd passes it.
  PrivateCups cups({}, "SetEnv TESSARO_RUNTIME_DIR " + pc.runtimeDir + "\n");
  ASSERT_TRUE(cups.Running());
  ASSERT_TRUE(cups.InstallBackend("tessaro", Lab::Binary("cups-backend/tessaro")));
  ASSERT_TRUE(cups.AddQueue("office", "tessaro://00-1C-F0-AA-0B-01/04F9/0042?serial=LW2040-00731"));
  std::string job(200 * 1000, '\0');
  std::mt19937 random(11);
  for (char& c : job) c = static_cast<char>(random());
  ASSERT_GT(cups.Submit("office", job), 0);

  ASSERT_TRUE(Eventually(
      [&] { return cups.QueueStatus("office").find("not connected") != std::string::npos; },
      std::chrono::seconds(20)))
      << cups.Tool("lpstat", {"-l", "-p", "office"}).out;
  ASSERT_EQ(lab.Cli(pc, {"link", "127.0.0.2", "1"}).exitCode, 0);
  const std::string file = output + "/job-1-PC-A.prn";
  ASSERT_TRUE(
      Eventually([&] { return ReadTextFile(file).size() == job.size(); }, std::chrono::seconds(20)))
      << cups.QueueStatus("office");
  EXPECT_EQ(ReadTextFile(file), job);
  EXPECT_TRUE(Eventually([&] {
    return cups.Tool("lpstat", {"-o", "office"}).out.empty();
  })) << "the job is done in CUPS";
}
