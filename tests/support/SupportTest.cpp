// SPDX-License-Identifier: GPL-2.0-or-later
// The fakes that other tests lean on must behave like the real services in the ways that matter.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "host/ComputerName.h"
#include "tests/support/FakeClock.h"
#include "tests/support/ManualMainThread.h"
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
