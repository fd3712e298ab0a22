// SPDX-License-Identifier: GPL-2.0-or-later
// The TWAIN component over this program's manager: its properties and tables, the transfer loop
// with scripted scanners (faults included), and the emulated Windows folder.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "scanning/twain/WinIni.h"
#include "tests/scanning/twain/FakeScanner.h"
#include "tests/scanning/twain/TwainFixture.h"

namespace tessaro::twain {
namespace {

using testing::EventLog;
using testing::FakePage;
using testing::GreyPage;

TEST(TwainTablesTest, ConditionTextsAndLanguageAndCountryCodes) {
  EXPECT_EQ(Condition2String(0), "Operation was succesful.");
  EXPECT_EQ(Condition2String(20), "Transfer failed because of a feeder error");
  EXPECT_EQ(Condition2String(21), "Transfer failed because of a feeder error");
  EXPECT_EQ(Condition2String(4),
            "Data Source is connected to maximum supported number of \r\napplications.");
  EXPECT_EQ(Condition2String(7), "Unknown condition 0007");
  EXPECT_EQ(Condition2String(0x1234), "Unknown condition 1234");

  const std::pair<TLanguageType, TW_UINT16> languages[] = {
      {lgDutch, 1}, {lgDanish, 0}, {lgAmerican, 13}, {lgRussian, 78}, {lgTurkish, 85}};
  for (const auto& [language, code] : languages) {
    EXPECT_EQ(LanguageCode(language), code);
    EXPECT_EQ(LanguageFromCode(code), language);
  }
  const std::pair<TCountryType, TW_UINT16> countries[] = {
      {ctNetherlands, 31}, {ctUSA, 1}, {ctFinland, 358}, {ctPortugal, 351}, {ctTurkey, 90}};
  for (const auto& [country, code] : countries) {
    EXPECT_EQ(CountryCode(country), code);
    EXPECT_EQ(CountryFromCode(code), country);
  }
  EXPECT_EQ(LanguageFromCode(3), lgDutch);
  EXPECT_EQ(CountryFromCode(999), ctNetherlands);
}

class TwainScannerTest : public ::testing::Test {
 protected:
  void SetUp() override { TwainManager::Install(&manager_); }
  void TearDown() override { TwainManager::Install(nullptr); }

  testing::FakeTwainHost host_;
  testing::FakeScannerSource scanners_;
  TwainManager manager_{scanners_, host_.windows.path().string()};
};

TEST_F(TwainScannerTest, PropertiesKeepTheirFieldsLimits) {
  TTwainScanner twain(host_);
  EXPECT_EQ(twain.Destination(), xfNative);
  EXPECT_EQ(twain.Language(), lgAmerican);
  EXPECT_EQ(twain.Country(), ctUSA);
  EXPECT_EQ(twain.VersionInfo(), "Twain component");
  EXPECT_EQ(twain.Filename(), "C:\\TWAIN.BMP");
  EXPECT_EQ(twain.FileFormat(), ffBMP);
  EXPECT_TRUE(twain.ShowUI());

  twain.SetProductname(std::string(40, 'p'));
  EXPECT_EQ(twain.Productname(), std::string(32, 'p'));
  twain.SetManufacturer("TWAIN");
  EXPECT_EQ(twain.Manufacturer(), "TWAIN");
  twain.SetFilename(std::string(300, 'f'));
  EXPECT_EQ(twain.Filename(), std::string(255, 'f'));
  twain.SetFileFormat(ffPNG);
  EXPECT_EQ(twain.FileFormat(), ffPNG);
  twain.SetFileFormat(ffUNKNOWN);
  EXPECT_EQ(twain.FileFormat(), ffBMP);
  twain.SetLanguage(lgGreek);
  EXPECT_EQ(twain.Language(), lgGreek);
  twain.SetCursor(7);
  EXPECT_EQ(host_.cursor, 7);
}

TEST_F(TwainScannerTest, FindsADataSourceInAnyFolderBelowTwain32) {
  TTwainScanner twain(host_);
  EXPECT_FALSE(twain.TwainDriverFound());
  std::filesystem::create_directories(host_.windows.path() / "TWAIN_32" / "vendor");
  std::ofstream(host_.windows.path() / "TWAIN_32" / "vendor" / "x.txt") << "x";
  EXPECT_FALSE(twain.TwainDriverFound());
  std::ofstream(host_.windows.path() / "TWAIN_32" / "vendor" / "scan.Ds") << "x";
  EXPECT_TRUE(twain.TwainDriverFound());
}

TEST_F(TwainScannerTest, ManagerOpensOnlyWhenInstalledAndClosesOnlyWithoutASource) {
  TwainManager::Install(nullptr);
  {
    TTwainScanner twain(host_);
    EXPECT_THROW(twain.InitTWAIN(), ETwainError);
    EXPECT_FALSE(twain.IsDataSourceManagerOpen());
  }
  TwainManager::Install(&manager_);
  scanners_.scripts["scan:a"].pages = {GreyPage(4, 4)};
  TTwainScanner twain(host_);
  EXPECT_THROW(twain.OpenDataSource(), ETwainAssertion);
  twain.InitTWAIN();
  EXPECT_TRUE(twain.IsDataSourceManagerOpen());
  EXPECT_TRUE(host_.HasHandler());
  twain.OpenDataSource();
  try {
    twain.CloseDataSourceManager();
    FAIL() << "closed the manager with a source open";
  } catch (const ETwainError& error) {
    EXPECT_STREQ(error.what(), ERR_DSM_OPEN);
  }
  twain.CloseDataSource();
  twain.CloseDataSourceManager();
  EXPECT_FALSE(twain.IsDataSourceManagerOpen());
}

// Acquire, then turn the message loop until the source is closed again.
void Scan(testing::FakeTwainHost& host, TTwainScanner& twain) {
  ASSERT_EQ(twain.Acquire(nullptr), TWRC_SUCCESS);
  for (int i = 0; i < 20 && twain.IsDataSourceOpen(); ++i) host.Pump(1);
  EXPECT_FALSE(twain.IsDataSourceOpen());
}

TEST_F(TwainScannerTest, AFeederGivesEveryPageAndMarksOnlyTheLastOne) {
  auto& script = scanners_.scripts["scan:a"];
  script.pages = {GreyPage(5, 3), GreyPage(6, 2), GreyPage(7, 1)};
  script.feeder = true;
  TTwainScanner twain(host_);
  EventLog log;
  log.Attach(twain);
  twain.SetShowUI(false);
  twain.SetDestination(xfFile);
  twain.InitTWAIN();
  Scan(host_, twain);
  EXPECT_EQ(twain.Destination(), xfNative);
  EXPECT_EQ(log.events,
            (std::vector<std::string>{"start", "ready", "start", "ready", "start", "ready"}));
  EXPECT_EQ(log.lastPageFlags, (std::vector<bool>{false, false, true}));
  ASSERT_EQ(log.pages.size(), 3u);
  uint32_t width = 0;
  std::memcpy(&width, log.pages[2].data() + 4, 4);
  EXPECT_EQ(width, 7u);
}

TEST_F(TwainScannerTest, ACancelBeforeAPageEndsTheLoopWithoutTransfer) {
  auto& script = scanners_.scripts["scan:a"];
  script.pages = {GreyPage(5, 3)};
  TTwainScanner twain(host_);
  EventLog log;
  log.Attach(twain);
  twain.OnScanStart = [&](TTwainScanner& sender) {
    log.events.push_back("start");
    sender.SetCanel(true);
  };
  twain.SetShowUI(false);
  twain.InitTWAIN();
  Scan(host_, twain);
  EXPECT_EQ(log.events, (std::vector<std::string>{"start"}));
  EXPECT_EQ(script.starts, 0);
}

TEST_F(TwainScannerTest, ResolutionSetThroughImageInfoReadsBack) {
  scanners_.scripts["scan:a"].pages = {GreyPage(5, 3)};
  TTwainScanner twain(host_);
  EventLog log;
  log.Attach(twain);
  std::vector<int32_t> seen;
  twain.OnScanStart = [&](TTwainScanner& sender) {
    TW_IMAGEINFO info{};
    ASSERT_EQ(sender.GetImageInfo(info), TWRC_SUCCESS);
    seen.push_back(Fix32ToInt(info.XResolution));
    info.XResolution = IntToFix32(550);
    EXPECT_TRUE(sender.SetImageInfo(info));
    ASSERT_EQ(sender.GetImageInfo(info), TWRC_SUCCESS);
    seen.push_back(Fix32ToInt(info.YResolution));
    seen.push_back(info.BitsPerPixel);
  };
  twain.SetShowUI(false);
  twain.InitTWAIN();
  Scan(host_, twain);
  EXPECT_EQ(seen, (std::vector<int32_t>{300, 550, 8}));
  ASSERT_EQ(log.pages.size(), 1u);
  uint32_t pelsPerMetre = 0;
  std::memcpy(&pelsPerMetre, log.pages[0].data() + 28, 4);
  EXPECT_EQ(pelsPerMetre, 21654u);  // 550 dpi
}

// Faults in the middle of a feeder batch: the pages before stay, the loop ends with a clear
// condition and OnScanCancel, and the scanner is let go.
TEST_F(TwainScannerTest, AFaultyPageEndsTheBatchKeepingThePagesBefore) {
  struct Case {
    const char* name;
    FakePage bad;
    TW_UINT16 condition;
    const char* text;  // the start of the manager's words for it
  };
  FakePage shortPage = GreyPage(8, 4);
  shortPage.data.resize(20);  // two and a half rows of four
  FakePage gone = GreyPage(8, 4);
  gone.data.resize(16);
  gone.end = ScanStatus::kIoError;  // the device went away after two rows
  FakePage jammed = GreyPage(8, 4);
  jammed.data.clear();
  jammed.end = ScanStatus::kJammed;
  FakePage zeroWidth = GreyPage(8, 4);
  zeroWidth.frame.pixelsPerLine = 0;
  FakePage huge = GreyPage(8, 4);
  huge.frame.pixelsPerLine = huge.frame.bytesPerLine = 1 << 30;
  // Asked for 8 bits, the scanner sends 16 and says so: a page all the same, kept at 8 bits.
  FakePage deep = GreyPage(8, 4);
  deep.frame.depth = 16;
  const Case cases[] = {
      {"short page", shortPage, TWCC_BUMMER, "The scanner sent less"},
      {"device gone", gone, TWCC_BUMMER, "Error communicating"},
      {"jammed feeder", jammed, TWCC_PAPERJAM, "The document feeder is jammed"},
      {"zero width", zeroWidth, TWCC_BUMMER, "The scanner announced a page 0 pixels wide"},
      {"enormous width", huge, TWCC_BUMMER, "The scanner announced a page"},
      {"16 bits where 8 were asked", deep, TWCC_SUCCESS, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto& script = scanners_.scripts["scan:a"];
    script = {};
    script.pages = {GreyPage(5, 3), c.bad, GreyPage(5, 3)};
    script.feeder = true;
    FakePage& page2 = script.pages[1];
    if (c.condition == TWCC_SUCCESS) {
      page2.data.clear();
      for (int i = 0; i < 8 * 4; ++i) page2.data.insert(page2.data.end(), {0x00, 0x9A});
      page2.frame.bytesPerLine = 16;
    }
    TTwainScanner twain(host_);
    EventLog log;
    log.Attach(twain);
    twain.SetShowUI(false);
    twain.InitTWAIN();
    Scan(host_, twain);
    if (c.condition == TWCC_SUCCESS) {
      ASSERT_EQ(log.pages.size(), 3u);
      EXPECT_EQ(log.pages[1][14], 8);  // biBitCount
      EXPECT_EQ(log.pages[1].back(), 0x9A);
      continue;
    }
    EXPECT_EQ(log.events, (std::vector<std::string>{"start", "ready", "start", "ready", "cancel"}));
    EXPECT_EQ(log.pages.size(), 1u);
    EXPECT_EQ(log.nullPages, 1);
    EXPECT_EQ(twain.LastTransferCondition(), c.condition);
    EXPECT_EQ(manager_.LastErrorText().rfind(c.text, 0), 0u) << manager_.LastErrorText();
    EXPECT_GE(script.cancels, 1);
  }
}

class ScriptedDialog : public SourceDialog {
 public:
  bool answer = true;
  std::vector<std::string> shown;
  bool Run(const std::string& sourceName, ScannerDevice&) override {
    shown.push_back(sourceName);
    return answer;
  }
};

TEST_F(TwainScannerTest, CancellingTheSourcesDialogAsksToCloseIt) {
  scanners_.scripts["scan:a"].pages = {GreyPage(5, 3)};
  ScriptedDialog dialog;
  dialog.answer = false;
  manager_.SetSourceDialog(&dialog);
  TTwainScanner twain(host_);
  EventLog log;
  log.Attach(twain);
  twain.InitTWAIN();
  twain.SetDataSource([] {
    TW_IDENTITY identity{};
    std::strcpy(identity.ProductName, "scan:a");
    return identity;
  }());
  Scan(host_, twain);
  EXPECT_EQ(dialog.shown, (std::vector<std::string>{"scan:a"}));
  EXPECT_EQ(log.events, (std::vector<std::string>{"close"}));
  EXPECT_FALSE(twain.IsDataSourceEnabled());
}

class ScriptedSelect : public SelectSourceDialog {
 public:
  std::optional<std::string> answer;
  std::optional<std::string> Choose(const std::vector<std::string>&, const std::string&) override {
    return answer;
  }
};

TEST_F(TwainScannerTest, SelectingASourceLeavesTheUsersDefaultAsItWas) {
  scanners_.scripts["scan:a"].pages = {GreyPage(5, 3)};
  scanners_.scripts["scan:b"].pages = {GreyPage(5, 3)};
  const std::string windows = host_.windows.path().string();
  std::ofstream(WinIniPath(windows)) << "[windows]\nload=\n[TWAIN]\nDEFAULT SOURCE=scan:a\n";
  ScriptedSelect select;
  manager_.SetSelectDialog(&select);
  {
    TTwainScanner twain(host_);
    twain.InitTWAIN();
    select.answer = "scan:b";
    twain.SelectDataSource();
    EXPECT_STREQ(twain.DataSource().ProductName, "scan:b");
    EXPECT_EQ(ReadDefaultSourceEntry(windows), "scan:b");
    select.answer.reset();  // cancelled: the source stays
    twain.SelectDataSource();
    EXPECT_STREQ(twain.DataSource().ProductName, "scan:b");
  }
  EXPECT_EQ(ReadDefaultSourceEntry(windows), "scan:a");
  std::ifstream in(WinIniPath(windows));
  std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(text, "[windows]\nload=\n[TWAIN]\nDEFAULT SOURCE=scan:a\n");
}

}  // namespace
}  // namespace tessaro::twain
