// SPDX-License-Identifier: GPL-2.0-or-later
// The load and save rules of the client's settings against a real hive.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "app/Settings.h"
#include "tests/support/HiveFixture.h"

namespace tessaro {
namespace {

const WorkArea kFullHd{0, 0, 1920, 1040};
// Centred in kFullHd at the design size.
constexpr int32_t kCentredTop = (1040 - 351) / 2;
constexpr int32_t kCentredLeft = (1920 - 289) / 2;

class SettingsTest : public HiveTest {
 protected:
  void SetUp() override { setenv("TESSARO_COMPUTERNAME", "BENCHPC", 1); }
  void TearDown() override { unsetenv("TESSARO_COMPUTERNAME"); }

  void Load(const WorkArea& area = kFullHd) {
    window_ = MainWindowPlacement{};
    settings_ = MainFormSettings{};
    LoadSettings(registry_, "Corvana", area, window_, settings_);
  }

  MainWindowPlacement window_;
  MainFormSettings settings_;
};

TEST_F(SettingsTest, FirstStartOnAnEmptyHiveWritesEveryDefaultInLoadOrder) {
  Load();
  EXPECT_EQ(UserValueNames(), (std::vector<std::string>{
                                  "MainForm Width", "MainForm Height", "MainForm Top",
                                  "MainForm Left", "MainForm WindowState", "Notify Device Detect",
                                  "Notify New Version", "Notify Check Days", "Notify Last Date"}));
  EXPECT_EQ(UserText("MainForm Width"), "289");
  EXPECT_EQ(UserText("MainForm Height"), "351");
  EXPECT_EQ(UserText("MainForm Top"), std::to_string(kCentredTop));
  EXPECT_EQ(UserText("MainForm Left"), std::to_string(kCentredLeft));
  EXPECT_EQ(UserText("MainForm WindowState"), "0");
  EXPECT_EQ(UserText("Notify Device Detect"), "1");
  // Off in a distribution's build, where updates come from its package manager.
  EXPECT_EQ(UserText("Notify New Version"), kUpdateCheckByDefault ? "1" : "0");
  EXPECT_EQ(UserText("Notify Check Days"), "60");
  EXPECT_EQ(UserText("Notify Last Date"), "0");
  EXPECT_EQ(UserText("AutoRun Check"), std::nullopt);

  EXPECT_EQ(window_.top, kCentredTop);
  EXPECT_EQ(window_.left, kCentredLeft);
  EXPECT_EQ(window_.state, WindowState::Normal);
  EXPECT_EQ(window_.positioning, FormPositioning::Designed);
  EXPECT_EQ(settings_.RestoreTop, kCentredTop);
  EXPECT_TRUE(settings_.NotifyDeviceDetect);
  EXPECT_EQ(settings_.NotifyNewVersion, kUpdateCheckByDefault);
  EXPECT_EQ(settings_.NotifyCheckDays, 60);
  EXPECT_EQ(settings_.NotifyLastDate, 0);
  EXPECT_EQ(settings_.ProductVersion, "");
  EXPECT_EQ(settings_.ComputerName, "BENCHPC");
  EXPECT_EQ(settings_.TrayOpenCaption, "Open Tessaro Utility");
  EXPECT_EQ(settings_.TrayAboutCaption, "About Tessaro Utility");
  EXPECT_EQ(settings_.WindowCaption, "Corvana Tessaro Utility");
  // The machine hive is the installer's: the load never writes there.
  EXPECT_FALSE(Open(RegRoot::LocalMachine, AppRegistryKey, false).valid);
}

TEST_F(SettingsTest, CentringIgnoresTheWorkAreaOffsetsAndStoresOnlyAnOnScreenTop) {
  struct Case {
    const char* why;
    WorkArea area;
    int32_t top;
    int32_t left;
    std::optional<std::string> storedTop;
  } cases[] = {
      {"offset work area", {100, 50, 1124, 818}, 208, 367, "208"},
      {"smaller than the window rounds toward zero", {0, 0, 200, 300}, -25, -44, std::nullopt},
      {"a top of 3000 or more is not stored", {0, 0, 1920, 6400}, 3024, 815, std::nullopt},
      {"a top of 0 is not stored", {0, 0, 289, 351}, 0, 0, std::nullopt},
  };
  for (const Case& c : cases) {
    registry_.DeleteKey(Open(RegRoot::CurrentUser, "Software\\Corvana", true), "Tessaro Utility");
    Load(c.area);
    EXPECT_EQ(window_.top, c.top) << c.why;
    EXPECT_EQ(window_.left, c.left) << c.why;
    EXPECT_EQ(settings_.RestoreTop, c.top) << c.why;
    EXPECT_EQ(UserText("MainForm Top"), c.storedTop) << c.why;
    // The left is stored whatever its value.
    EXPECT_EQ(UserText("MainForm Left"), std::to_string(c.left)) << c.why;
  }
}

// One stored value, what it is afterwards, and what the form took from it.
struct ValueCase {
  const char* name;
  std::string stored;
  std::string storedAfter;
  std::function<void(const MainWindowPlacement&, const MainFormSettings&)> check;
};

TEST_F(SettingsTest, InvalidValuesAreRewrittenAndValidOnesLeftAlone) {
  using W = const MainWindowPlacement&;
  using S = const MainFormSettings&;
  const ValueCase cases[] = {
      {"Notify Device Detect", "yes", "1", [](W, S s) { EXPECT_TRUE(s.NotifyDeviceDetect); }},
      {"Notify Device Detect", "", "1", [](W, S s) { EXPECT_TRUE(s.NotifyDeviceDetect); }},
      {"Notify Device Detect", "00", "1", [](W, S s) { EXPECT_TRUE(s.NotifyDeviceDetect); }},
      {"Notify Device Detect", "0", "0", [](W, S s) { EXPECT_FALSE(s.NotifyDeviceDetect); }},
      {"Notify New Version", "no", "1", [](W, S s) { EXPECT_TRUE(s.NotifyNewVersion); }},
      {"Notify New Version", "0", "0", [](W, S s) { EXPECT_FALSE(s.NotifyNewVersion); }},
      {"Notify Check Days", "59", "60", [](W, S s) { EXPECT_EQ(s.NotifyCheckDays, 60); }},
      {"Notify Check Days", "366", "60", [](W, S s) { EXPECT_EQ(s.NotifyCheckDays, 60); }},
      {"Notify Check Days", "abc", "60", [](W, S s) { EXPECT_EQ(s.NotifyCheckDays, 60); }},
      {"Notify Check Days", "", "60", [](W, S s) { EXPECT_EQ(s.NotifyCheckDays, 60); }},
      {"Notify Check Days", "90x", "60", [](W, S s) { EXPECT_EQ(s.NotifyCheckDays, 60); }},
      {"Notify Check Days", "60", "60", [](W, S s) { EXPECT_EQ(s.NotifyCheckDays, 60); }},
      {"Notify Check Days", "365", "365", [](W, S s) { EXPECT_EQ(s.NotifyCheckDays, 365); }},
      {"Notify Check Days", "120", "120", [](W, S s) { EXPECT_EQ(s.NotifyCheckDays, 120); }},
      {"Notify Last Date", "abc", "0", [](W, S s) { EXPECT_EQ(s.NotifyLastDate, 0); }},
      {"Notify Last Date", "", "0", [](W, S s) { EXPECT_EQ(s.NotifyLastDate, 0); }},
      {"Notify Last Date", "4294967296", "0", [](W, S s) { EXPECT_EQ(s.NotifyLastDate, 0); }},
      {"Notify Last Date", "677209180", "677209180",
       [](W, S s) { EXPECT_EQ(s.NotifyLastDate, 677209180); }},
      // Dates from 2044 on are negative numbers.
      {"Notify Last Date", "-2145320960", "-2145320960",
       [](W, S s) { EXPECT_EQ(s.NotifyLastDate, -2145320960); }},
      // A top that is not above 0 is ignored but not rewritten: its text was not empty.
      {"MainForm Top", "-20", "-20",
       [](W w, S s) {
         EXPECT_EQ(w.top, kCentredTop);
         EXPECT_EQ(s.RestoreTop, kCentredTop);
       }},
      {"MainForm Top", "0", "0", [](W w, S) { EXPECT_EQ(w.top, kCentredTop); }},
      {"MainForm Top", "abc", "abc", [](W w, S) { EXPECT_EQ(w.top, kCentredTop); }},
      {"MainForm Top", "500", "500",
       [](W w, S s) {
         EXPECT_EQ(w.top, 500);
         EXPECT_EQ(s.RestoreTop, 500);
       }},
      {"MainForm Left", "-5", "-5", [](W w, S) { EXPECT_EQ(w.left, kCentredLeft); }},
      {"MainForm Left", "40", "40", [](W w, S) { EXPECT_EQ(w.left, 40); }},
      {"MainForm Width", "0", "0", [](W w, S) { EXPECT_EQ(w.width, 289); }},
      // A stored size is centred with.
      {"MainForm Width", "401", "401",
       [](W w, S) {
         EXPECT_EQ(w.width, 401);
         EXPECT_EQ(w.left, (1920 - 401) / 2);
       }},
      {"MainForm Height", "-1", "-1", [](W w, S) { EXPECT_EQ(w.height, 351); }},
      {"MainForm Height", "600", "600",
       [](W w, S) {
         EXPECT_EQ(w.height, 600);
         EXPECT_EQ(w.top, (1040 - 600) / 2);
       }},
      {"MainForm WindowState", "2", "2",
       [](W w, S) { EXPECT_EQ(w.state, WindowState::Maximized); }},
      {"MainForm WindowState", "1", "1",
       [](W w, S) { EXPECT_EQ(w.state, WindowState::Minimized); }},
      {"MainForm WindowState", "0", "0", [](W w, S) { EXPECT_EQ(w.state, WindowState::Normal); }},
      // No such state: ignored, not rewritten.
      {"MainForm WindowState", "7", "7", [](W w, S) { EXPECT_EQ(w.state, WindowState::Normal); }},
      {"AutoRun Check", "0", "0", [](W, S) {}},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " = \"" + c.stored + "\"");
    registry_.DeleteKey(Open(RegRoot::CurrentUser, "Software\\Corvana", true), "Tessaro Utility");
    SetUser(c.name, c.stored);
    Load();
    EXPECT_EQ(UserText(c.name), c.storedAfter);
    c.check(window_, settings_);
    // Every other value still gets its default.
    EXPECT_EQ(UserText("Notify Last Date").has_value(), true);
    EXPECT_EQ(UserText("MainForm WindowState").has_value(), true);
  }
}

TEST_F(SettingsTest, ProductVersionComesFromTheMachineHive) {
  SetRaw(RegRoot::LocalMachine, AppRegistryKey, "Product Version", regtype::kSz, "1.0");
  SetUser("Product Version", "user's own");
  Load();
  EXPECT_EQ(settings_.ProductVersion, "1.0");
}

TEST_F(SettingsTest, SaveStoresThePlacementExceptParkedTopsAndMinimised) {
  struct Case {
    const char* why;
    MainWindowPlacement window;
    std::string top;
    std::string left;
    std::string state;
  } cases[] = {
      {"a normal window", {300, 400, 120, 50, WindowState::Normal, {}}, "120", "50", "0"},
      {"maximised", {300, 400, 120, 50, WindowState::Maximized, {}}, "120", "50", "2"},
      {"parked by a mini start", {300, 400, 3000, 50, WindowState::Normal, {}}, "111", "50", "0"},
      {"hidden after a mini start",
       {300, 400, 3001, 50, WindowState::Normal, {}},
       "111",
       "50",
       "0"},
      {"just above the parking top",
       {300, 400, 2999, 50, WindowState::Normal, {}},
       "2999",
       "50",
       "0"},
      {"top 0", {300, 400, 0, 50, WindowState::Normal, {}}, "111", "50", "0"},
      {"top 1", {300, 400, 1, 50, WindowState::Normal, {}}, "1", "50", "0"},
      {"above the screen, left of it",
       {300, 400, -8, -30, WindowState::Normal, {}},
       "111",
       "-30",
       "0"},
      {"minimised", {300, 400, 120, 50, WindowState::Minimized, {}}, "120", "50", "2"},
  };
  for (const Case& c : cases) {
    SetUser("MainForm Top", "111");
    SetUser("MainForm WindowState", "2");
    SavePlacement(registry_, c.window);
    EXPECT_EQ(UserText("MainForm Width"), "300") << c.why;
    EXPECT_EQ(UserText("MainForm Height"), "400") << c.why;
    EXPECT_EQ(UserText("MainForm Top"), c.top) << c.why;
    EXPECT_EQ(UserText("MainForm Left"), c.left) << c.why;
    EXPECT_EQ(UserText("MainForm WindowState"), c.state) << c.why;
  }
}

// The hive of a user whose writes are refused (a hive another process keeps locked, a full disk):
// reads pass through.
class RefusingRegistry : public Registry {
 public:
  explicit RefusingRegistry(Registry& inner) : inner_(inner) {}
  uint32_t OpenKey(RegRoot root, std::string_view path, uint32_t access, bool create,
                   RegKey& out) override {
    return inner_.OpenKey(root, path, access, create, out);
  }
  uint32_t QueryValue(const RegKey& key, std::string_view name, RegValue& out) override {
    return inner_.QueryValue(key, name, out);
  }
  uint32_t SetValue(const RegKey&, std::string_view, uint32_t, std::string_view) override {
    return regerr::kRegistryIoFailed;
  }
  uint32_t EnumSubKeys(const RegKey& key, std::vector<std::string>& names) override {
    return inner_.EnumSubKeys(key, names);
  }
  uint32_t EnumValues(const RegKey& key, std::vector<std::string>& names) override {
    return inner_.EnumValues(key, names);
  }
  uint32_t DeleteValue(const RegKey&, std::string_view) override {
    return regerr::kRegistryIoFailed;
  }
  uint32_t DeleteKey(const RegKey&, std::string_view) override { return regerr::kRegistryIoFailed; }

 private:
  Registry& inner_;
};

TEST_F(SettingsTest, ARefusedSaveIsSaidOnceAndAStoredOneNot) {
  RefusingRegistry refusing(registry_);
  const MainWindowPlacement window{300, 400, 120, 50, WindowState::Normal, {}};
  struct Case {
    const char* why;
    std::function<void()> run;
    int lines;
  } cases[] = {
      {"placement saved", [&] { SavePlacement(registry_, window); }, 0},
      {"placement refused", [&] { SavePlacement(refusing, window); }, 1},
      {"defaults refused on the first start",
       [&] {
         MainFormSettings settings;
         MainWindowPlacement loaded;
         LoadSettings(refusing, "Corvana", kFullHd, loaded, settings);
       },
       1},
  };
  for (const Case& c : cases) {
    ::testing::internal::CaptureStderr();
    c.run();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), c.lines) << c.why << ": " << err;
    if (c.lines > 0) {
      EXPECT_NE(err.find("1016"), std::string::npos) << err;
    }
  }
}

TEST_F(SettingsTest, SavedPlacementIsWhatTheNextStartLoads) {
  SavePlacement(registry_, {333, 444, 77, 88, WindowState::Maximized, {}});
  Load();
  EXPECT_EQ(window_.width, 333);
  EXPECT_EQ(window_.height, 444);
  EXPECT_EQ(window_.top, 77);
  EXPECT_EQ(window_.left, 88);
  EXPECT_EQ(window_.state, WindowState::Maximized);
  EXPECT_EQ(settings_.RestoreTop, 77);
}

}  // namespace
}  // namespace tessaro
