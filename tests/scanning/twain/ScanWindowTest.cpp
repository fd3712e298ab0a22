// SPDX-License-Identifier: GPL-2.0-or-later
// The TWAIN scan window's logic without a display: its rules as tables, then whole scans from a
// scripted scanner through the component, the page files, the saving thread and the scan lock.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <variant>

#include "scanning/pages/BmpReader.h"
#include "scanning/pages/ImageFormats.h"
#include "scanning/twain/DibBuilder.h"
#include "scanning/twain/NetScanCore.h"
#include "tests/scanning/twain/FakeScanner.h"
#include "tests/scanning/twain/TwainFixture.h"
#include "tests/support/ManualMainThread.h"
#include "tests/support/ScriptedUi.h"

namespace tessaro::twain {
namespace {

using testing::GreyPage;

TEST(ScanWindowRulesTest, FreeNameSkipsEveryFormOfATakenName) {
  struct Case {
    const char* name;
    std::vector<std::string> taken;
    std::optional<std::string> expected;
  };
  std::vector<std::string> all;
  for (int i = 0; i <= 1000; ++i)
    all.push_back("/p/Picture" + (i ? std::to_string(i) : "") + ".bmp");
  const Case cases[] = {
      {"nothing there", {}, "/p/Picture.jpg"},
      {"the JPEG there", {"/p/Picture.jpg"}, "/p/Picture1.jpg"},
      {"only the BMP there", {"/p/Picture.bmp"}, "/p/Picture1.jpg"},
      {"first numbers taken",
       {"/p/Picture.jpg", "/p/Picture1.bmp", "/p/Picture2.jpg"},
       "/p/Picture3.jpg"},
      {"every number taken", all, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto exists = [&](const std::string& file) {
      return std::find(c.taken.begin(), c.taken.end(), file) != c.taken.end();
    };
    EXPECT_EQ(FindFreeTarget("/p/Picture", "jpg", exists), c.expected);
  }
}

TEST(ScanWindowRulesTest, PictureInformationTexts) {
  const PictureTexts a4 = DescribePicture(2480, 3508, 24, 300);
  EXPECT_EQ(a4.pixels, "2480 x 3508 pixels");
  EXPECT_EQ(a4.cm, "20.9 x 29.7 cm");
  EXPECT_EQ(a4.dpi, "300 dpi");
  EXPECT_EQ(a4.bits, "24 bit(s)");
  EXPECT_EQ(a4.size, "24.9 MB");
  const PictureTexts small = DescribePicture(100, 100, 8, 0);
  EXPECT_EQ(small.size, "9.8 KB");
  EXPECT_EQ(small.cm, "");
  EXPECT_EQ(small.dpi, "");
  EXPECT_EQ(DescribePicture(10, 10, 8, 100).size, "100 Bytes");
  EXPECT_EQ(DescribePicture(1024, 8, 1, 100).size, "1024 Bytes");
  EXPECT_EQ(DescribePicture(2048, 1024, 8, 100).size, "2 MB");
}

TEST(ScanWindowRulesTest, ZoomNavigationAndResolutionSteps) {
  const std::pair<int32_t, int32_t> zoomIn[] = {{57, 60}, {60, 70}, {295, 300}, {300, 300}};
  for (const auto& [from, to] : zoomIn) EXPECT_EQ(ZoomInScale(from), to) << from;
  EXPECT_EQ(ZoomOutScale(60, 20), 50);
  EXPECT_EQ(ZoomOutScale(57, 20), 54);
  EXPECT_EQ(ZoomOutScale(57, 55), 55);
  EXPECT_EQ(ZoomOutScale(40, 40), 40);
  EXPECT_EQ(PreviousPage(0, 3), 2);
  EXPECT_EQ(NextPage(2, 3), 0);
  EXPECT_EQ(NextPage(0, 3), 1);
  EXPECT_EQ(ResolutionTarget(1200, 24), 600);
  EXPECT_EQ(ResolutionTarget(600, 24), std::nullopt);
  EXPECT_EQ(ResolutionTarget(600, 16), 600);
  EXPECT_EQ(ResolutionTarget(599, 16), std::nullopt);
  EXPECT_EQ(ResolutionTarget(601, 1), 600);
}

TEST(ScanWindowRulesTest, PreviewFitsItsPanelAndStaysCentred) {
  struct Case {
    const char* name;
    int32_t w, h, panelW, panelH;
    PreviewPlace expected;
  };
  const Case cases[] = {
      {"small picture: natural size, centred", 100, 50, 416, 316, {100, 50, 158, 133, 100}},
      {"wide picture: fitted to the width", 2000, 1000, 416, 316, {400, 200, 8, 58, 20}},
      {"tall A4 page: fitted to the height", 2480, 3508, 616, 516, {353, 500, 131, 8, 14}},
      {"no picture: nothing to fit", 0, 0, 416, 316, {0, 0, 208, 158, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const PreviewPlace place = FitPreview(c.w, c.h, c.panelW, c.panelH);
    EXPECT_EQ(place.width, c.expected.width);
    EXPECT_EQ(place.height, c.expected.height);
    EXPECT_EQ(place.left, c.expected.left);
    EXPECT_EQ(place.top, c.expected.top);
    EXPECT_EQ(place.scalePercent, c.expected.scalePercent);
  }
  const PreviewPlace zoomed = ScalePreview(2480, 3508, 60, 616, 516);
  EXPECT_EQ(zoomed.width, 1488);
  EXPECT_EQ(zoomed.height, 2104);
  EXPECT_EQ(zoomed.left, 8);  // larger than the panel: held 8 pixels in
}

TEST(ScanWindowRulesTest, WriteBmpFileWritesAReadableBitmapOrNothing) {
  testing::TempFolder folder;
  FrameParameters frame{FrameFormat::kGray, true, 3, 3, 2, 8};
  const auto built = BuildDib(frame, std::vector<uint8_t>{1, 2, 3, 4, 5, 6}, 200);
  ASSERT_TRUE(built) << built.error();
  TW_HANDLE dib = *built;
  ASSERT_TRUE(WriteBmpFile(dib, folder / "page.bmp", false));
  const auto file = testing::ReadBytes(folder / "page.bmp");
  const auto parsed = ParseBmp(file);
  ASSERT_TRUE(std::holds_alternative<BmpImage>(parsed));
  EXPECT_EQ(std::get<BmpImage>(parsed).Row(1)[2], 6);
  EXPECT_EQ(testing::GetU32(file, 2), file.size());
  EXPECT_EQ(testing::GetU32(file, 10), 54u + 1024u);

  // A DIB whose header promises more rows than it holds is refused, and nothing is written.
  auto* bytes = static_cast<uint8_t*>(GlobalBlockLock(dib));
  bytes[8] = 200;
  EXPECT_FALSE(WriteBmpFile(dib, folder / "short.bmp", false));
  bytes[8] = 2;
  bytes[16] = 1;  // compressed, with no image size
  std::memset(bytes + 20, 0, 4);
  EXPECT_FALSE(WriteBmpFile(dib, folder / "rle.bmp", false));
  GlobalBlockFree(dib);
  EXPECT_EQ(folder.Names(), (std::set<std::string>{"page.bmp"}));
}

class RecordingView : public NetScanView {
 public:
  std::optional<Picture> LoadPreview(const std::string& file) override {
    const auto bytes = testing::ReadBytes(file);
    const auto parsed = ParseBmp(bytes);
    if (const auto* image = std::get_if<BmpImage>(&parsed)) {
      return Picture{image->width, image->height, image->bitCount};
    }
    if (file.ends_with(".jpg") && !bytes.empty()) return Picture{1, 1, 24};
    return std::nullopt;
  }
  void ClearPreview() override {}
  void ShowNote(const std::string& text) override { note = text; }
  void ShowPageLabel(int32_t page, const std::string& file) override {
    labels.push_back("No. " + std::to_string(page) + " Page. " + file);
  }
  void ShowIndex(int32_t index, int32_t total) override {
    shownIndex = index;
    shownTotal = total;
  }
  void ShowPictureTexts(const PictureTexts& value) override { texts = value; }
  void SetInputEnabled(bool enabled) override { inputEnabled = enabled; }
  void SetNavigationEnabled(bool enabled) override { navigationEnabled = enabled; }
  void SetBusyCursor(bool) override {}
  void ShowSavingWindow(bool shown) override { savingShown = shown; }
  void SetSaveProgress(int32_t saved, int32_t pages) override {
    progress.emplace_back(saved, pages);
  }
  void CloseWindow() override { closed = true; }

  std::string note;
  std::vector<std::string> labels;
  int32_t shownIndex = -1, shownTotal = -1;
  PictureTexts texts;
  bool inputEnabled = true, navigationEnabled = false, savingShown = false, closed = false;
  std::vector<std::pair<int32_t, int32_t>> progress;
};

class ScriptedLock : public ScanLockPort {
 public:
  bool LockDevice(int, const std::string&, uint32_t seconds) override {
    calls.push_back("lock " + std::to_string(seconds));
    return lockSucceeds;
  }
  bool UnlockDevice(int, const std::string&) override {
    calls.push_back("unlock");
    return true;
  }
  bool lockSucceeds = true;
  std::vector<std::string> calls;
};

class ScanWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TwainManager::Install(&manager_);
    twain_.SetShowUI(false);
    twain_.InitTWAIN();
    core_.SetSession({3, "2", "PC1", "PC1", true});
  }
  void TearDown() override { TwainManager::Install(nullptr); }

  void Scan(const std::string& name, int format) {
    core_.ScanBtnClick(name, format, folder_.path().string() + "/");
    for (int i = 0; i < 20 && twain_.IsDataSourceOpen(); ++i) host_.Pump(1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (core_.SaveFileTimerRunning() && std::chrono::steady_clock::now() < deadline) {
      main_.DrainWithin(std::chrono::milliseconds(20));
      core_.SaveFileTimerTimer();
    }
  }

  testing::TempFolder folder_;
  testing::TempFolder documents_;
  testing::FakeTwainHost host_;
  testing::FakeScannerSource scanners_;
  TwainManager manager_{scanners_, host_.windows.path().string()};
  TTwainScanner twain_{host_};
  RecordingView view_;
  testing::ScriptedUi ui_;
  testing::ManualMainThread main_;
  ScriptedLock lock_;
  TNetScanCore core_{twain_, view_, ui_, main_, lock_, documents_ / "Picture"};
};

TEST_F(ScanWindowTest, AThreePageJpegGroupIsNamedShownAndSaved) {
  auto& script = scanners_.scripts["scan:a"];
  script.pages = {GreyPage(16, 8), GreyPage(16, 8), GreyPage(16, 8)};
  script.feeder = true;
  std::ofstream(folder_ / "Picture.bmp") << "the user's own";
  Scan("Picture", 0);
  const std::string base = folder_.path().string() + "/Picture1";
  EXPECT_EQ(core_.TargetFileNameText(), base + ".jpg");
  ASSERT_EQ(view_.labels.size(), 4u);
  EXPECT_EQ(view_.labels[0], "No. 1 Page. " + base + ".jpg");
  EXPECT_EQ(view_.labels[2], "No. 3 Page. " + base + "_3.jpg");
  // After saving, page 1 is shown again.
  EXPECT_EQ(view_.labels[3], "No. 1 Page. " + base + ".jpg");
  EXPECT_EQ(folder_.Names(), (std::set<std::string>{"Picture.bmp", "Picture1.jpg", "Picture1_2.jpg",
                                                    "Picture1_3.jpg"}));
  EXPECT_EQ(view_.note, " 3 picture(s) were scanned.");
  EXPECT_TRUE(view_.navigationEnabled);
  EXPECT_TRUE(view_.inputEnabled);
  EXPECT_FALSE(view_.savingShown);
  ASSERT_FALSE(view_.progress.empty());
  EXPECT_EQ(view_.progress.front(), std::make_pair(0, 3));
  EXPECT_EQ(view_.progress.back(), std::make_pair(3, 3));
  EXPECT_TRUE(core_.TimeoutTimerRunning());
  // "<" on page 1 of 3 shows page 3.
  core_.PBtnClick();
  EXPECT_EQ(core_.PageIndex(), 2);
  EXPECT_EQ(view_.shownIndex, 3);
}

TEST_F(ScanWindowTest, TooHighAResolutionIsBroughtDownInStepsOrRefused) {
  auto& script = scanners_.scripts["scan:a"];
  script.pages = {GreyPage(600, 2)};  // wide enough to show its size in centimetres
  script.resolution = 1200;
  script.maxResolution = 450;
  // A grey page reports 8 bits: 1200 is above 600, then 600, 550, 500 read back as 450.
  Scan("Low", 1);
  EXPECT_EQ(script.resolution, 450);
  EXPECT_EQ(view_.texts.dpi, "450 dpi");
  EXPECT_TRUE(ui_.messages().empty());

  script.resolution = 1200;
  script.maxResolution = 90;
  script.starts = 0;
  Scan("None", 1);
  ASSERT_EQ(ui_.messages().size(), 1u);
  EXPECT_EQ(ui_.messages()[0].text, SNo_Resolution);
  EXPECT_EQ(ui_.messages()[0].caption, kScanWindowCaption);
  EXPECT_EQ(script.starts, 0);  // no page was transferred
  EXPECT_FALSE(std::filesystem::exists(folder_ / "None.bmp"));
}

TEST_F(ScanWindowTest, TheIdleTimerGivesTheLockBackAndScanTakesItAgain) {
  scanners_.scripts["scan:a"].pages = {GreyPage(16, 8)};
  Scan("One", 1);
  EXPECT_TRUE(core_.TimeoutTimerRunning());
  core_.TimeoutTimerTimer();
  EXPECT_FALSE(core_.ScanLockHeld());
  EXPECT_FALSE(core_.TimeoutTimerRunning());
  Scan("Two", 1);
  EXPECT_TRUE(core_.ScanLockHeld());
  EXPECT_EQ(lock_.calls, (std::vector<std::string>{"unlock", "lock 1200"}));

  // Another PC took the scanner meanwhile: the window says so and closes.
  core_.TimeoutTimerTimer();
  core_.SetSession({3, "2", "PC2", "PC1", false});
  Scan("Three", 1);
  EXPECT_TRUE(view_.closed);
  ASSERT_FALSE(ui_.messages().empty());
  EXPECT_EQ(ui_.messages().back().text, STimeout);
  EXPECT_FALSE(std::filesystem::exists(folder_ / "Three.bmp"));
}

TEST_F(ScanWindowTest, SaveThisPictureAsWritesEachFormatWithTheShownResolution) {
  auto& script = scanners_.scripts["scan:a"];
  script.pages = {GreyPage(64, 48)};
  script.resolution = 200;
  Scan("Page", 1);
  ASSERT_EQ(core_.ShownPageDpi(), 200);
  core_.SaveBtnClick(folder_ / "copy.jpg");
  core_.SaveBtnClick(folder_ / "copy.BMP");
  core_.SaveBtnClick(folder_ / "copy.pdf");
  core_.SaveBtnClick(folder_ / "copy.txt");  // nothing is written for other extensions
  EXPECT_TRUE(ui_.messages().empty());
  EXPECT_EQ(ReadJfifDensity(folder_ / "copy.jpg"), 200);
  const auto bmp = testing::ReadBytes(folder_ / "copy.BMP");
  EXPECT_EQ(testing::GetU32(bmp, 42), 7874u);
  const auto pdf = testing::ReadBytes(folder_ / "copy.pdf");
  ASSERT_GE(pdf.size(), 5u);
  EXPECT_EQ(std::string(pdf.begin(), pdf.begin() + 5), "%PDF-");
  EXPECT_EQ(folder_.Names(),
            (std::set<std::string>{"Page.bmp", "copy.jpg", "copy.BMP", "copy.pdf"}));
  // An existing file is replaced only when the user says so.
  ui_.QueueAnswer(answer::kNo);
  const auto before = testing::ReadBytes(folder_ / "copy.pdf");
  core_.SaveBtnClick(folder_ / "copy.pdf");
  EXPECT_EQ(testing::ReadBytes(folder_ / "copy.pdf"), before);
  ASSERT_EQ(ui_.messages().size(), 1u);
  EXPECT_EQ(ui_.messages()[0].text, SFile_Open_Exist);
}

TEST_F(ScanWindowTest, ALaterPageNeverWritesOverAFileOfTheSameName) {
  auto& script = scanners_.scripts["scan:a"];
  script.pages = {GreyPage(16, 8), GreyPage(16, 8)};
  script.feeder = true;
  std::ofstream(folder_ / "Picture_2.bmp") << "the user's own";
  Scan("Picture", 1);
  EXPECT_EQ(testing::ReadBytes(folder_ / "Picture_2.bmp").size(), 14u);
  ASSERT_EQ(ui_.messages().size(), 1u);
  EXPECT_EQ(ui_.messages()[0].text, SFile_Open_Err + (folder_ / "Picture_2.bmp"));
  EXPECT_EQ(core_.PageCount(), 0);
  EXPECT_TRUE(view_.inputEnabled);  // the window is given back
  EXPECT_TRUE(core_.TimeoutTimerRunning());
}

TEST_F(ScanWindowTest, ASourceThatCannotBeOpenedGivesTheWindowBack) {
  // No scanner at all: the manager cannot open a source; then no manager at all.
  Scan("Nothing", 1);
  EXPECT_TRUE(view_.inputEnabled);
  EXPECT_TRUE(core_.TimeoutTimerRunning());
  EXPECT_FALSE(twain_.IsDataSourceOpen());
  TwainManager::Install(nullptr);
  TTwainScanner unloaded(host_);
  EXPECT_THROW(unloaded.InitTWAIN(), ETwainError);
  TNetScanCore core(unloaded, view_, ui_, main_, lock_, documents_ / "Picture");
  core.SetSession({3, "2", "PC1", "PC1", true});
  core.ScanBtnClick("Nothing", 1, folder_.path().string() + "/");
  ASSERT_FALSE(ui_.messages().empty());
  EXPECT_EQ(ui_.messages().back().text, ERR_TWAIN_NOT_LOADED);
  EXPECT_TRUE(view_.inputEnabled);
  EXPECT_TRUE(core.TimeoutTimerRunning());
}

TEST_F(ScanWindowTest, ScanNeedsANameAndAFolder) {
  core_.ScanBtnClick("", 0, "/tmp/");
  core_.ScanBtnClick("Picture", 0, "");
  core_.ScanBtnClick(std::string(260, 'n'), 0, "/tmp/");
  const auto messages = ui_.messages();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0].text, SNo_PFile_Name);
  EXPECT_EQ(messages[1].text, SNo_PFile_Path);
  EXPECT_EQ(messages[2].text.rfind(std::string(SFile_Save_Err) + "\n\n/tmp/nnn", 0), 0u);
  EXPECT_FALSE(twain_.IsDataSourceOpen());
}

TEST_F(ScanWindowTest, ABatchThatBreaksOffSavesThePagesBeforeAndSaysWhy) {
  struct Case {
    const char* fault;
    ScanStatus end;
    size_t keptBytes;  // of the third page's data
  };
  const Case cases[] = {
      {"jammed", ScanStatus::kJammed, 40},
      {"device gone", ScanStatus::kIoError, 40},
      {"fewer bytes than promised", ScanStatus::kEndOfFrame, 40},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    testing::TempFolder folder;
    auto& script = scanners_.scripts["scan:a"];
    script = {};
    script.pages = {GreyPage(16, 8), GreyPage(16, 8), GreyPage(16, 8), GreyPage(16, 8)};
    script.pages[2].data.resize(c.keptBytes);
    script.pages[2].end = c.end;
    script.feeder = true;
    const size_t messagesBefore = ui_.messages().size();
    core_.ScanBtnClick("Picture", 0, folder.path().string() + "/");
    for (int i = 0; i < 20 && twain_.IsDataSourceOpen(); ++i) host_.Pump(1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (core_.SaveFileTimerRunning() && std::chrono::steady_clock::now() < deadline) {
      main_.DrainWithin(std::chrono::milliseconds(20));
      core_.SaveFileTimerTimer();
    }
    EXPECT_EQ(folder.Names(), (std::set<std::string>{"Picture.jpg", "Picture_2.jpg"}));
    ASSERT_EQ(ui_.messages().size(), messagesBefore + 1);
    EXPECT_TRUE(ui_.messages().back().text.starts_with("The scan stopped before its last page: "))
        << ui_.messages().back().text;
    EXPECT_TRUE(view_.inputEnabled);
    EXPECT_FALSE(core_.SaveFileTimerRunning());
  }
}

}  // namespace
}  // namespace tessaro::twain
