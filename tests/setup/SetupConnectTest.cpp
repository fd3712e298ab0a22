// SPDX-License-Identifier: GPL-2.0-or-later
// Linking the device for the wizard and letting it go, with a scripted device.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "setup/SetupConnect.h"

namespace tessaro::setup {
namespace {

struct ScriptedDevice : SetupDeviceLink {
  bool linkOk = true, lockOk = true, unlinkOk = true, ours = true;
  std::vector<std::string> calls;
  bool Link() override { return calls.push_back("link"), linkOk; }
  bool Lock(int kind, int seconds) override {
    calls.push_back("lock " + std::to_string(kind) + " " + std::to_string(seconds));
    return lockOk;
  }
  bool Unlock(int kind, int seconds) override {
    calls.push_back("unlock " + std::to_string(kind) + " " + std::to_string(seconds));
    return true;
  }
  bool Unlink() override { return calls.push_back("unlink"), unlinkOk; }
  bool UsedByThisPc() override { return ours; }
};

struct RecordedPrompts : SetupPrompts {
  std::vector<std::string> errors;
  void ShowError(const std::string& text) override { errors.push_back(text); }
};

struct CountingSleeper : SetupSleeper {
  std::chrono::milliseconds total{0};
  void Pause(std::chrono::milliseconds step) override { total += step; }
};

TEST(SetupConnect, LinksLocksAndWaitsOrStaysWithAMessage) {
  struct Case {
    const char* name;
    bool linkOk, lockOk, scannerLike;
    std::optional<SetupPage> page;
    std::vector<std::string> calls;
    int waitedMs;
  };
  const std::vector<Case> cases = {
      {"printer", true, true, false, SetupPage::Connect, {"link", "lock 2 3600"}, 2000},
      {"scanner", true, true, true, SetupPage::ConnectScanner, {"link", "lock 2 3600"}, 2000},
      {"taken by another PC", false, true, false, std::nullopt, {"link"}, 0},
      {"lock refused", true, false, false, std::nullopt, {"link", "lock 2 3600", "unlink"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedDevice device;
    device.linkOk = c.linkOk;
    device.lockOk = c.lockOk;
    RecordedPrompts prompts;
    CountingSleeper sleeper;
    EXPECT_EQ(ConnectForSetup(device, prompts, sleeper, c.scannerLike), c.page);
    EXPECT_EQ(device.calls, c.calls);
    EXPECT_EQ(sleeper.total.count(), c.waitedMs);
    EXPECT_EQ(prompts.errors.size(), c.page ? 0u : 1u);
    if (!c.page) {
      EXPECT_EQ(prompts.errors.front(), kLinkFailedText);
    }
  }
}

TEST(SetupConnect, ReleasesOnlyADeviceThisPcHolds) {
  ScriptedDevice other;
  other.ours = false;
  RecordedPrompts prompts;
  ReleaseDevice(other, prompts);
  EXPECT_TRUE(other.calls.empty());

  ScriptedDevice stuck;
  stuck.unlinkOk = false;
  ReleaseDevice(stuck, prompts);
  EXPECT_EQ(stuck.calls, (std::vector<std::string>{"unlock 2 0", "unlink"}));
  EXPECT_EQ(prompts.errors, std::vector<std::string>{kUnlinkFailedText});
}

}  // namespace
}  // namespace tessaro::setup
