// SPDX-License-Identifier: GPL-2.0-or-later
// The Options dialog and the periodic new-version check end to end: a real HTTP server on
// 127.0.0.1 serves the replies, libcurl fetches them, a real hive keeps the settings.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "options/OptionsCore.h"
#include "options/UpdateCheck.h"
#include "platform/linux/CurlHttpClient.h"
#include "tests/options/LoopbackHttpServer.h"
#include "tests/support/FakeClock.h"
#include "tests/support/HiveFixture.h"
#include "tests/support/ScriptedUi.h"

namespace tessaro {
namespace {

using std::chrono::milliseconds;

std::string VersionReply(const std::string& major, const std::string& minor,
                         const std::string& sites = "") {
  return "<?xml version=\"1.0\"?><Query><Default><FW_Version><Major>" + major + "</Major><Minor>" +
         minor + "</Minor><Date>2008-07-10</Date></FW_Version><Download_Site>" + sites +
         "</Download_Site></Default></Query>";
}
const std::string kTwoSites =
    "<Europe><Firmware>http://eu.example/tu.exe</Firmware></Europe>"
    "<Global><Firmware>http://www.example/tu.exe</Firmware></Global>";

class RecordingTimer : public VersionTimer {
 public:
  void SetEnabled(bool enabled) override { enabled_ = enabled; }
  void SetInterval(int intervalMs) override { interval_ = intervalMs; }
  int Interval() const override { return interval_; }
  bool enabled_ = false;
  int interval_ = 0;
};

class RecordingShell : public Shell {
 public:
  bool OpenUrl(const std::string& url) override {
    opened.push_back(url);
    return true;
  }
  std::vector<std::string> opened;
};

class UpdateCheckTest : public HiveTest {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    settings_.ProductVersion = "1.0";
  }
  UpdateServices Services() { return {registry_, http_, ui_, clock_}; }
  std::string Url() const { return server_.BaseUrl() + kUpdateQueryPath; }
  size_t Messages() const { return ui_.messages().size(); }

  testing::LoopbackHttpServer server_;
  CurlHttpClient http_{milliseconds(400)};
  testing::ScriptedUi ui_;
  testing::FakeClock clock_;
  RecordingTimer timer_;
  RecordingShell shell_;
  NotifySettings settings_;
};

class OptionsDialogTest : public UpdateCheckTest {
 protected:
  OptionsCore options_{Services(), shell_, timer_, settings_, Url()};
};

TEST_F(OptionsDialogTest, TheQueryCarriesTheFixedPathAndBothHeaders) {
  server_.Script({200, VersionReply("1", "0")});
  options_.CheckNow();
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")),
            "GET /router/firmware/query.asp?model=CQXV_A1_Default HTTP/1.1");
  EXPECT_NE(requests[0].find("\r\nAccept: text/html, */*"), std::string::npos);
  EXPECT_NE(requests[0].find("\r\nUser-Agent: Mozilla/3.0 (compatible; Indy Library)"),
            std::string::npos);
}

TEST_F(OptionsDialogTest, ManualCheckAnswers) {
  struct Case {
    const char* installed;
    std::string reply;
    bool latestShown;
    bool panelShown;
    const char* version;
  } const cases[] = {
      {"1.0", VersionReply("1", "0"), true, false, ""},
      {"1.9", VersionReply("1", "10"), false, true, "1.10"},
      {"1.10", VersionReply("1", "9"), true, false, ""},
      {"1.0", VersionReply("01", "2"), false, true, "1.2"},
      {"", VersionReply("1", "0"), false, true, "1.0"},
      {"1.0", "<Query><Default/></Query>", false, false, ""},
  };
  for (const Case& c : cases) {
    settings_.ProductVersion = c.installed;
    settings_.NotifyLastDate = 0;
    server_.Script({200, c.reply});
    options_.FormShow(true);
    options_.CheckNow();
    const OptionsForm& form = options_.Form();
    EXPECT_EQ(form.latestVersionShown, c.latestShown) << c.reply;
    EXPECT_EQ(form.checkPanelShown, c.panelShown) << c.reply;
    EXPECT_EQ(form.latestVersion, c.version) << c.reply;
    EXPECT_EQ(options_.DialogHeight(300), c.panelShown ? 300 : 188);
    EXPECT_EQ(settings_.NotifyLastDate != 0, c.panelShown) << c.reply;
  }
  EXPECT_EQ(Messages(), 0u);
}

TEST_F(OptionsDialogTest, ANewerVersionListsEverySiteAndMovesTheNoticeDate) {
  server_.Script({200, VersionReply("1", "2", kTwoSites)});
  options_.FormShow(true);
  options_.CheckNow();
  const OptionsForm& form = options_.Form();
  EXPECT_EQ(form.siteNames, (std::vector<std::string>{"Europe", "Global"}));
  EXPECT_EQ(form.siteIndex, 0);
  EXPECT_EQ(form.latestVersionDate, "2008/07/10");
  // The fake wall clock starts at 2026-01-01 00:00:00.
  EXPECT_EQ(form.nextDate, "2026/03/02 12:00:00 am");
  EXPECT_EQ(UserText("Notify Last Date"), std::to_string(*PackDosDateTime({2026, 1, 1, 0, 0, 0})));
  EXPECT_TRUE(timer_.enabled_);

  options_.Download();
  options_.SiteChange(1);
  options_.Download();
  EXPECT_EQ(shell_.opened,
            (std::vector<std::string>{"http://eu.example/tu.exe", "http://www.example/tu.exe"}));
}

TEST_F(OptionsDialogTest, AnAddressOfAnotherSchemeIsNeverOpened) {
  server_.Script(
      {200, VersionReply("2", "0", "<Global><Firmware>file:///bin/sh</Firmware></Global>")});
  options_.FormShow(true);
  options_.CheckNow();
  options_.Download();
  EXPECT_TRUE(shell_.opened.empty());
  ASSERT_EQ(Messages(), 1u);
  EXPECT_EQ(ui_.messages()[0].text, kConnectionFailedText);
}

TEST_F(OptionsDialogTest, EveryFailedFetchTellsTheUserOnceAndChangesNothing) {
  struct Case {
    const char* what;
    testing::ScriptedReply reply;
  } const cases[] = {
      {"slow", {200, VersionReply("9", "0"), milliseconds(1500)}},
      {"404", {404, "<html>gone</html>"}},
      {"cut short", {200, VersionReply("9", "0"), milliseconds(0), true}},
      {"huge", {200, "<Query><Default>" + std::string(2 << 20, ' ') + "</Default></Query>"}},
      {"not xml", {200, "Service unavailable"}},
      {"empty", {200, ""}},
      {"no Default", {200, "<Query><FW_Version/></Query>"}},
  };
  for (const Case& c : cases) {
    const size_t before = Messages();
    server_.Script(c.reply);
    timer_.enabled_ = false;
    options_.FormShow(true);
    options_.CheckNow();
    ASSERT_EQ(Messages(), before + 1) << c.what;
    const MessageRequest shown = ui_.messages().back();
    EXPECT_EQ(shown.text, "Connection failed, please try again.") << c.what;
    EXPECT_EQ(shown.caption, "Tessaro Utility");
    EXPECT_EQ(shown.flags, 0x40030u);
    EXPECT_FALSE(options_.Form().checkPanelShown) << c.what;
    EXPECT_FALSE(options_.Form().latestVersionShown) << c.what;
    EXPECT_TRUE(timer_.enabled_) << c.what;
  }
  EXPECT_EQ(UserText("Notify Last Date"), std::nullopt);
}

TEST_F(OptionsDialogTest, FormShowReadsTheSettingsAndOkWritesThem) {
  SetUser("AutoRun Check", "0");
  settings_.NotifyDeviceDetect = false;
  settings_.NotifyCheckDays = 90;
  settings_.NotifyLastDate = *PackDosDateTime({2008, 7, 14, 11, 49, 32});
  options_.FormShow(false);
  EXPECT_FALSE(options_.Form().autoRun);
  EXPECT_FALSE(options_.Form().notifyNewDevice);
  EXPECT_EQ(options_.Form().checkDays, "90");
  EXPECT_EQ(options_.Form().nextDate, "2008/10/12 11:49:32 am");
  EXPECT_FALSE(options_.Form().checkNowEnabled);
  options_.NetworkChanged(true);
  EXPECT_TRUE(options_.Form().checkNowEnabled);

  options_.Controls().autoRun = true;
  options_.Controls().notifyNewVersion = false;
  options_.CheckDaysChanged("120");
  ASSERT_TRUE(options_.Ok());
  EXPECT_EQ(UserText("AutoRun Check"), "1");
  EXPECT_EQ(UserText("Notify Device Detect"), "0");
  EXPECT_EQ(UserText("Notify New Version"), "0");
  EXPECT_EQ(UserText("Notify Check Days"), "120");
  EXPECT_EQ(settings_.NotifyCheckDays, 120);
  EXPECT_FALSE(settings_.NotifyNewVersion);
}

TEST_F(OptionsDialogTest, DaysOutsideTheRangeAreRefusedAndThePreviousTextReturns) {
  options_.FormShow(true);
  for (const char* bad : {"59", "366", "abc", "", "6O"}) {
    options_.CheckDaysChanged(bad);
    EXPECT_FALSE(options_.CheckDaysExit()) << bad;
    EXPECT_EQ(options_.Form().checkDays, "60") << bad;
    EXPECT_EQ(ui_.messages().back().text, "Please input the 60 - 365 integer.");
  }
  for (const char* good : {"365", "60"}) {
    options_.CheckDaysChanged(good);
    EXPECT_TRUE(options_.CheckDaysExit()) << good;
  }
  // OK with a refused text never stores it.
  options_.CheckDaysChanged("59");
  EXPECT_FALSE(options_.Ok());
  EXPECT_EQ(UserText("Notify Check Days"), std::nullopt);
}

class PeriodicCheckTest : public UpdateCheckTest {
 protected:
  void SetUp() override {
    UpdateCheckTest::SetUp();
    hooks_.networkReady = [this] { return networkReady_; };
    hooks_.anyDeviceNoticeShown = [this] { return deviceNoticeShown_; };
    hooks_.showNotice = [this](const std::string& version, const std::string& address) {
      notices_.emplace_back(version, address);
    };
  }
  NewVersionCheck& Check() {
    if (!check_)
      check_ = std::make_unique<NewVersionCheck>(Services(), timer_, settings_, Url(), hooks_);
    return *check_;
  }
  void Minutes(int count) { clock_.Advance(std::chrono::minutes(count)); }

  NewVersionHooks hooks_;
  std::unique_ptr<NewVersionCheck> check_;
  bool networkReady_ = true;
  bool deviceNoticeShown_ = false;
  std::vector<std::pair<std::string, std::string>> notices_;
};

TEST_F(PeriodicCheckTest, FirstRunChecksAfterTwoSecondsThenWaitsTheNoticePeriod) {
  server_.Script({200, VersionReply("1", "0")});
  timer_.interval_ = kFirstCheckMs;  // as the start-up sets it

  deviceNoticeShown_ = true;  // a sliding device notice holds the first check back
  Check().Tick();
  EXPECT_EQ(timer_.interval_, 2000);
  EXPECT_TRUE(server_.Requests().empty());

  deviceNoticeShown_ = false;
  Check().Tick();
  EXPECT_EQ(timer_.interval_, 60000);
  EXPECT_EQ(server_.Requests().size(), 1u);
  const std::string firstRun = std::to_string(*PackDosDateTime({2026, 1, 1, 0, 0, 0}));
  EXPECT_EQ(UserText("Notify Last Date"), firstRun);

  Minutes(60 * 1440);  // exactly the period: not yet
  Check().Tick();
  EXPECT_EQ(server_.Requests().size(), 1u);
  Minutes(1);  // past it: once a minute until something newer turns up
  Check().Tick();
  Minutes(1);
  Check().Tick();
  EXPECT_EQ(server_.Requests().size(), 3u);
  EXPECT_EQ(UserText("Notify Last Date"), firstRun);
  EXPECT_TRUE(notices_.empty());
  EXPECT_EQ(Messages(), 0u);
}

TEST_F(PeriodicCheckTest, ANewerVersionShowsTheGlobalAddressAndMovesTheDate) {
  server_.Script({200, VersionReply("1", "10", kTwoSites)});
  settings_.ProductVersion = "1.9";
  timer_.interval_ = kFirstCheckMs;
  Check().Tick();
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].first, "v1.10");
  EXPECT_EQ(notices_[0].second, "http://www.example/tu.exe");
  Minutes(10);
  Check().Tick();  // the period starts again from this notice
  EXPECT_EQ(notices_.size(), 1u);
  EXPECT_EQ(server_.Requests().size(), 1u);
}

TEST_F(PeriodicCheckTest, QuietAndFailedChecksLeaveTheDateAndRetryNextMinute) {
  settings_.NotifyLastDate = *PackDosDateTime({2025, 1, 1, 0, 0, 0});
  timer_.interval_ = 60000;
  struct Case {
    const char* what;
    testing::ScriptedReply reply;
    size_t messages;
  } const cases[] = {
      {"no version", {200, "<Query><Default><Download_Site/></Default></Query>"}, 0},
      {"404", {404, "gone"}, 1},
      // Still retried every minute, but the user was told within this period already.
      {"cut short", {200, VersionReply("9", "0"), milliseconds(0), true}, 0},
      {"404 again", {404, "gone"}, 0},
  };
  size_t requests = 0;
  for (const Case& c : cases) {
    const size_t before = Messages();
    server_.Script(c.reply);
    Check().Tick();
    EXPECT_EQ(server_.Requests().size(), ++requests) << c.what;
    EXPECT_EQ(Messages() - before, c.messages) << c.what;
    Minutes(1);
  }
  EXPECT_TRUE(notices_.empty());
  EXPECT_EQ(settings_.NotifyLastDate, *PackDosDateTime({2025, 1, 1, 0, 0, 0}));
  EXPECT_EQ(UserText("Notify Last Date"), std::nullopt);
}

TEST_F(PeriodicCheckTest, AnOfflineMachineIsToldOncePerNoticePeriod) {
  settings_.NotifyLastDate = *PackDosDateTime({2025, 1, 1, 0, 0, 0});
  settings_.NotifyCheckDays = 1;
  timer_.interval_ = 60000;
  struct Step {
    int minutesBefore;
    testing::ScriptedReply reply;
    size_t messages;  // in all, so far
  } const steps[] = {
      {0, {404, "gone"}, 1},     // told
      {1, {404, "gone"}, 1},     // a minute later: retried quietly
      {1439, {404, "gone"}, 1},  // a day after the message: not past the period yet
      {1, {404, "gone"}, 2},     // past it: told again
      {1, {200, "<Query><Default><Download_Site/></Default></Query>"}, 2},  // online again
      {1, {404, "gone"}, 3},     // a new failure after an answer is told at once
  };
  size_t requests = 0;
  for (const Step& step : steps) {
    Minutes(step.minutesBefore);
    server_.Script(step.reply);
    Check().Tick();
    EXPECT_EQ(server_.Requests().size(), ++requests);
    EXPECT_EQ(Messages(), step.messages) << "request " << requests;
  }
}

TEST_F(PeriodicCheckTest, NoNetworkOrAnUnreadableDateAsksNothing) {
  server_.Script({200, VersionReply("9", "0")});
  timer_.interval_ = 60000;
  networkReady_ = false;
  Check().Tick();
  settings_.NotifyLastDate = 0x7FFFFFFF;  // positive, but no valid date
  networkReady_ = true;
  Check().Tick();
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(UpdateCheckTest, TheServerComesFromTheEnvironmentThenTheSettingThenTheDefault) {
  const char* const saved = std::getenv("TESSARO_UPDATE_URL");
  const std::string kept = saved != nullptr ? saved : "";
  unsetenv("TESSARO_UPDATE_URL");
  EXPECT_EQ(UpdateQueryUrl(registry_),
            "http://www.corvana.com/router/firmware/query.asp?model=CQXV_A1_Default");
  SetUser("Update Server", "http://updates.lan:8080/");
  EXPECT_EQ(UpdateQueryUrl(registry_),
            "http://updates.lan:8080/router/firmware/query.asp?model=CQXV_A1_Default");
  setenv("TESSARO_UPDATE_URL", "http://127.0.0.1:8081", 1);
  EXPECT_EQ(UpdateQueryUrl(registry_),
            "http://127.0.0.1:8081/router/firmware/query.asp?model=CQXV_A1_Default");
  if (saved != nullptr) {
    setenv("TESSARO_UPDATE_URL", kept.c_str(), 1);
  } else {
    unsetenv("TESSARO_UPDATE_URL");
  }
}

// Ticks keep coming while the connection message waits for the user.
class TickingUi : public UiPort {
 public:
  int ShowMessage(const MessageRequest&) override {
    ++shown;
    if (onMessage) onMessage();
    return answer::kOk;
  }
  int RunDialog(const DialogRequest&) override { return answer::kCancel; }
  std::function<void()> onMessage;
  int shown = 0;
};

TEST_F(UpdateCheckTest, ATickDuringTheConnectionMessageStartsNoSecondCheck) {
  server_.Script({404, "gone"});
  TickingUi ui;
  settings_.NotifyLastDate = *PackDosDateTime({2025, 1, 1, 0, 0, 0});
  timer_.interval_ = kCheckEveryMs;
  NewVersionCheck check({registry_, http_, ui, clock_}, timer_, settings_, Url(), {});
  ui.onMessage = [&] { check.Tick(); };
  check.Tick();
  EXPECT_EQ(ui.shown, 1);
  EXPECT_EQ(server_.Requests().size(), 1u);
  ui.onMessage = nullptr;
  check.Tick();  // the next minute checks again, without a second box in the same period
  EXPECT_EQ(server_.Requests().size(), 2u);
  EXPECT_EQ(ui.shown, 1);
}

}  // namespace
}  // namespace tessaro
