// SPDX-License-Identifier: GPL-2.0-or-later
// The fakes that other tests lean on must behave like the real services in the ways that matter.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "base/ComputerName.h"
#include "tests/support/Command.h"
#include "tests/support/FakeClock.h"
#include "tests/support/ManualMainThread.h"
#include "tests/support/Process.h"
#include "tests/support/ScriptedUi.h"

using namespace tessaro;
using namespace tessaro::testing;

TEST(ManualMainThread, RunSyncFromWorkerWaitsUntilTheMainThreadDrains) {
  ManualMainThread main;
  std::atomic<bool> ran{false}, returned{false};
  std::thread worker([&] {
    main.RunSync([&] {
      EXPECT_TRUE(main.IsMainThread());
      ran = true;
    });
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(ran.load());
  EXPECT_FALSE(returned.load());
  while (!returned) main.DrainWithin(std::chrono::milliseconds(50));
  worker.join();
  EXPECT_TRUE(ran.load());
}

TEST(ManualMainThread, RunSyncOnTheMainThreadRunsInline) {
  ManualMainThread main;
  int n = 0;
  main.RunSync([&] { ++n; });
  EXPECT_EQ(n, 1);
  main.Post([&] { ++n; });
  EXPECT_EQ(n, 1);
  main.ProcessPendingEvents();
  EXPECT_EQ(n, 2);
  EXPECT_EQ(main.pumpCount(), 1);
}

TEST(FakeClock, SleepAdvancesTimeAndIsRecorded) {
  FakeClock clock;
  const auto t0 = clock.Now();
  clock.Sleep(std::chrono::milliseconds(1000));
  clock.Sleep(std::chrono::milliseconds(200));
  EXPECT_EQ(clock.Now() - t0, std::chrono::milliseconds(1200));
  EXPECT_EQ(clock.slept(), std::chrono::milliseconds(1200));
  ASSERT_EQ(clock.sleeps().size(), 2u);
}

TEST(ScriptedUi, AnswersInOrderThenFallsBack) {
  ScriptedUi ui;
  ui.QueueAnswer(answer::kYes);
  EXPECT_EQ(ui.ShowMessage({"Tessaro Utility", "first", mb::kYesNo, true}), answer::kYes);
  EXPECT_EQ(ui.ShowMessage({"Tessaro Utility", "second", mb::kOk, true}), answer::kOk);
  EXPECT_EQ(ui.RunDialog({"TEjectDeviceDlg", ""}), answer::kCancel);
  ASSERT_EQ(ui.messages().size(), 2u);
  EXPECT_EQ(ui.messages()[1].text, "second");
  EXPECT_EQ(ui.dialogs()[0].dialogId, "TEjectDeviceDlg");
}

TEST(ComputerName, OneRuleForEveryProgram) {
  struct Case {
    const char* override;
    const char* host;
    const char* expected;
  } cases[] = {
      {nullptr, "office-pc.example.com", "OFFICE-PC"},
      {nullptr, "lab", "LAB"},
      {"Mixed.Case", "ignored", "Mixed.Case"},  // the variable is taken as it is
      {"", "host", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ComputerNameFrom(c.override, c.host), c.expected) << c.host;
  EXPECT_EQ(ComputerNameFrom(nullptr, std::string(80, 'a')).size(), 63u);
}

TEST(Process, ReportsHowItEndedAndCountsItsOutput) {
  struct Case {
    const char* script;
    int exitCode;
  } cases[] = {
      {"echo ready; echo ready; exit 0", 0},
      {"echo ready >&2; echo ready; exit 3", 3},
      {"echo ready; echo ready; kill -KILL $$", 128 + SIGKILL},
  };
  for (const auto& c : cases) {
    Process shell("/bin/sh", {"-c", c.script});
    ASSERT_TRUE(shell.Start());
    EXPECT_TRUE(shell.WaitForOutputCount("ready", 2)) << c.script;
    EXPECT_EQ(shell.WaitForExit(), c.exitCode) << c.script;
    EXPECT_FALSE(shell.WaitForOutputCount("ready", 3)) << "it ended with two: " << c.script;
  }
  Process sleeper("/bin/sh", {"-c", "sleep 30"});
  EXPECT_EQ(sleeper.WaitForExit(), std::nullopt) << "never started";
  ASSERT_TRUE(sleeper.Start());
  EXPECT_EQ(sleeper.WaitForExit(std::chrono::milliseconds(100)), std::nullopt);
  EXPECT_TRUE(sleeper.Running());
}

TEST(Spawn, TheChildsVariablesLieOverTheTestsOwn) {
  ::setenv("TESSARO_SPAWN_KEPT", "kept", 1);
  ::setenv("TESSARO_SPAWN_OVER", "old", 1);
  const CommandResult env =
      RunCommand("/usr/bin/env", {}, {{"TESSARO_SPAWN_OVER", "new"}, {"TESSARO_SPAWN_NEW", "added"}});
  ASSERT_EQ(env.exitCode, 0) << env.err;
  const auto lines = env.Lines();
  const auto count = [&](const std::string& line) {
    return std::count(lines.begin(), lines.end(), line);
  };
  EXPECT_EQ(count("TESSARO_SPAWN_KEPT=kept"), 1);
  EXPECT_EQ(count("TESSARO_SPAWN_OVER=new"), 1);
  EXPECT_EQ(count("TESSARO_SPAWN_OVER=old"), 0);
  EXPECT_EQ(count("TESSARO_SPAWN_NEW=added"), 1);
  // A program that is not there is a failure to start, not a child that exits.
  EXPECT_EQ(RunCommand("/nonexistent/tool", {}).exitCode, -1);
  Process missing("/nonexistent/daemon", {});
  EXPECT_FALSE(missing.Start());
  ::unsetenv("TESSARO_SPAWN_KEPT");
  ::unsetenv("TESSARO_SPAWN_OVER");
}
