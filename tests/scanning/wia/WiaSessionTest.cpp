// SPDX-License-Identifier: GPL-2.0-or-later
// The WIA session's logic with a scripted device: page names, the BMP to JPEG conversion, the
// feeder running dry, flatbed runs, cancels from the data callback and failures mid-run, the
// settings dialog's free-name search, and the session's answers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <deque>
#include <filesystem>

#include "scanning/pages/ImageFormats.h"
#include "scanning/wia/WiaSession.h"
#include "scanning/wia/WiaTexts.h"
#include "tests/scanning/wia/ScriptedWiaItem.h"
#include "tests/support/PageFixtures.h"
#include "tests/support/ScriptedUi.h"

using namespace tessaro;
using namespace tessaro::wia;
using tessaro::testing::RecordingView;
using tessaro::testing::ScriptedItem;

namespace {

class WiaTransferTest : public ::testing::Test {
 protected:
  std::set<std::string> Run(const std::string& base, const std::string& ext) {
    WiaTransferJob job;
    job.item = &item;
    job.settings = {folder.path().string() + "/", base, ext};
    job.documentHandling = item.select;
    job.jpegFormat = ext == ".jpg" && item.offersJpeg;
    job.resolution = 150;
    core = std::make_unique<TNetWIASaveCore>(view, job);
    core->Show();
    core->Run();
    return folder.Names();
  }
  tessaro::testing::TempFolder folder;
  ScriptedItem item;
  RecordingView view;
  std::unique_ptr<TNetWIASaveCore> core;
};

TEST_F(WiaTransferTest, AFeederRunNamesItsPagesAndConvertsThemWhenTheDeviceHasNoJpeg) {
  struct Case {
    const char* name;
    bool offersJpeg;
    const char* ext;
    std::set<std::string> files;
  };
  const Case cases[] = {
      {"JPG on a device without JPEG: BMPs made JPEG, none left",
       false,
       ".jpg",
       {"Picture.jpg", "Picture_001.jpg", "Picture_002.jpg"}},
      {"JPG on a device with JPEG: written directly",
       true,
       ".jpg",
       {"Picture.jpg", "Picture_001.jpg", "Picture_002.jpg"}},
      {"BMP", false, ".bmp", {"Picture.bmp", "Picture_001.bmp", "Picture_002.bmp"}},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(folder.path());
    std::filesystem::create_directories(folder.path());
    item = ScriptedItem{};
    item.offersJpeg = c.offersJpeg;
    EXPECT_EQ(Run("Picture", c.ext), c.files) << c.name;
    const std::string transferExt = c.offersJpeg ? ".jpg" : ".bmp";
    EXPECT_EQ(item.requested,
              (std::vector<std::string>{"Picture" + transferExt, "Picture_001" + transferExt,
                                        "Picture_002" + transferExt, "Picture_003" + transferExt}))
        << c.name;
    EXPECT_EQ(view.backEnabled, true) << c.name;
    EXPECT_TRUE(view.messages.empty()) << c.name;
    EXPECT_EQ(core->Files().size(), 3u) << c.name;
  }
  // A converted page carries the scan's resolution as its density.
  item = ScriptedItem{};
  std::filesystem::remove_all(folder.path());
  std::filesystem::create_directories(folder.path());
  Run("Dense", ".jpg");
  EXPECT_EQ(GetJfifDensity(tessaro::testing::ReadBytes(folder / "Dense_002.jpg")), 150);
}

TEST_F(WiaTransferTest, AFlatbedGivesOnePageEvenWhenTheFeederReadsReady) {
  item.select = kFlatbed;
  EXPECT_EQ(Run("Flat", ".bmp"), (std::set<std::string>{"Flat.bmp"}));
  EXPECT_EQ(item.requested.size(), 1u);
}

TEST_F(WiaTransferTest, ACancelFromTheCallbackKeepsAndConvertsThePagesBefore) {
  int halfPages = 0;
  view.onProgress = [&](int32_t percent) {
    if (percent == 50 && ++halfPages == 2) core->CancelClick();
  };
  EXPECT_EQ(Run("Picture", ".jpg"), (std::set<std::string>{"Picture.jpg"}));
  EXPECT_EQ(view.messages, (std::vector<std::string>{kScanCancelled}));
  EXPECT_EQ(view.cancelLabel, kCancelledScan);
  EXPECT_EQ(view.backEnabled, false);
}

TEST_F(WiaTransferTest, AFailureMidRunKeepsThePagesBeforeAndOffersNoBack) {
  item.failAtPage = 3;
  EXPECT_EQ(Run("Picture", ".jpg"), (std::set<std::string>{"Picture.jpg", "Picture_001.jpg"}));
  EXPECT_EQ(view.backEnabled, false);
}

TEST_F(WiaTransferTest, AnEmptyFeederBeforeTheFirstPageIsSaid) {
  item.sheets = 0;
  EXPECT_EQ(Run("Picture", ".jpg"), (std::set<std::string>{}));
  EXPECT_EQ(view.messages, (std::vector<std::string>{kFeederEmpty}));
}

TEST_F(WiaTransferTest, AFileThatAppearedUnderALaterPageNameIsNeverReplaced) {
  tessaro::testing::WriteBytes(folder / "Picture_001.jpg", {'m', 'i', 'n', 'e'});
  Run("Picture", ".jpg");
  EXPECT_EQ(tessaro::testing::ReadBytes(folder / "Picture_001.jpg"),
            (std::vector<uint8_t>{'m', 'i', 'n', 'e'}));
  // That page stays a BMP and the user is told which name could not be written.
  EXPECT_TRUE(std::filesystem::exists(folder / "Picture_001.bmp"));
  EXPECT_EQ(view.messages,
            (std::vector<std::string>{std::string(SFile_Save_Err) + (folder / "Picture_001.jpg")}));
  EXPECT_TRUE(std::filesystem::exists(folder / "Picture_002.jpg"));
}

TEST(WiaSettingsTest, TheGroupTakesTheFirstFreeNumberedName) {
  struct Case {
    const char* name;
    std::set<std::string> existing;
    std::optional<std::string> base;
  };
  const Case cases[] = {
      {"nothing there", {}, "Picture"},
      {"the JPEG there", {"/p/Picture.jpg"}, "Picture 001"},
      {"a BMP counts even for JPG", {"/p/Picture.bmp"}, "Picture 001"},
      {"a PDF does not count", {"/p/Picture.pdf"}, "Picture"},
      {"the first two taken", {"/p/Picture.jpg", "/p/Picture 001.bmp"}, "Picture 002"},
  };
  for (const Case& c : cases) {
    const auto exists = [&](const std::string& f) { return c.existing.count(f) > 0; };
    EXPECT_EQ(FreeGroupBaseName("/p/", "Picture", ".jpg", exists), c.base) << c.name;
  }
  const auto all = [](const std::string&) { return true; };
  EXPECT_EQ(FreeGroupBaseName("/p/", "Picture", ".jpg", all), std::nullopt);
}

TEST(WiaSettingsTest, NextChecksTheFieldsAndAsksBeforeWritingOverAFullRange) {
  tessaro::testing::ScriptedUi ui;
  TNetWIASetCore core(ui, "/home/u/Pictures");
  core.Show();
  EXPECT_EQ(core.FilePathEdit, "/home/u/Pictures/");
  const auto none = [](const std::string&) { return false; };
  core.FileNameEdit = "";
  EXPECT_EQ(core.NextBtnClick(none), std::nullopt);
  core.FileNameEdit = "../elsewhere";
  EXPECT_EQ(core.NextBtnClick(none), std::nullopt);
  core.FileNameEdit = "Scan";
  core.FileFmtIndex = 1;
  const auto settings = core.NextBtnClick(none);
  ASSERT_TRUE(settings);
  EXPECT_EQ(settings->folder + settings->baseName + settings->extension,
            "/home/u/Pictures/Scan.bmp");
  const auto all = [](const std::string&) { return true; };
  ui.QueueAnswer(answer::kNo);
  EXPECT_EQ(core.NextBtnClick(all), std::nullopt);
  ui.QueueAnswer(answer::kYes);
  const auto over = core.NextBtnClick(all);
  ASSERT_TRUE(over);
  EXPECT_EQ(over->baseName, "Scan");
  EXPECT_TRUE(over->replaceExisting);
  const auto texts = ui.messages();
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[0].text, SNo_PFile_Name);
  EXPECT_EQ(texts[2].text, SFile_Open_Exist);
}

// A session's device, dialogs and answers, all scripted.
class ScriptedSession : public WiaSessionUi, public DeviceDialog, public WiaDeviceManager {
 public:
  class Root : public WiaRootItem {
   public:
    explicit Root(ScriptedSession& s) : s_(s) {}
    HResult DeviceDlg(DeviceDialog&, std::unique_ptr<WiaItem>& chosen) override {
      if (s_.dialogResult == kOk) {
        auto item = std::make_unique<ScriptedItem>();
        item->offersJpeg = s_.offersJpeg;
        chosen = std::move(item);
      }
      return s_.dialogResult;
    }
    ScriptedSession& s_;
  };
  std::unique_ptr<WiaRootItem> CreateDevice(const std::string& id) override {
    created.push_back(id);
    return id.empty() ? nullptr : std::make_unique<Root>(*this);
  }
  bool Run(const DeviceOffer&, DeviceChoices&) override { return true; }
  DeviceDialog& DeviceDialogOf() override { return *this; }
  int RunSettings(WiaScanSettings& settings) override {
    settings = {"/tmp/", "Picture", extension};
    return settingsAnswer;
  }
  int RunTransfer(const WiaTransferJob& job) override {
    jobs.push_back(job);
    return transferAnswer;
  }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }

  HResult dialogResult = kOk;
  bool offersJpeg = false;
  std::string extension = ".jpg";
  int settingsAnswer = answer::kOk;
  int transferAnswer = answer::kCancel;
  std::vector<std::string> created;
  std::vector<WiaTransferJob> jobs;
  std::vector<std::string> messages;
};

TEST(WiaSessionTest, EachWayOutOfASessionAnswersAndSaysWhatItShould) {
  struct Case {
    const char* name;
    HResult dialog;
    int settings;
    int transfer;
    int result;
    std::vector<std::string> messages;
    size_t transfers;
  };
  const Case cases[] = {
      {"device held elsewhere", kErrorOffline, answer::kOk, 0, kSessionDone, {STimeout}, 0},
      {"device dialog cancelled", kFalse, answer::kOk, 0, kSessionDone, {kDialogCancelled}, 0},
      {"device dialog failed", kFail, answer::kOk, 0, kSessionDone, {}, 0},
      {"settings cancelled", kOk, answer::kCancel, 0, kSessionDone, {}, 0},
      {"back in the settings", kOk, answer::kRetry, 0, kScanAgain, {}, 0},
      {"transfer closed", kOk, answer::kOk, answer::kCancel, kSessionDone, {}, 1},
      {"back after the transfer", kOk, answer::kOk, answer::kRetry, kScanAgain, {}, 1},
  };
  for (const Case& c : cases) {
    ScriptedSession s;
    s.dialogResult = c.dialog;
    s.settingsAnswer = c.settings;
    s.transferAnswer = c.transfer;
    WiaScanner scanner(s);
    scanner.OpenWiaDeviceManager(&s);
    EXPECT_EQ(scanner.RunWiaScanSession("test:0"), c.result) << c.name;
    EXPECT_EQ(s.messages, c.messages) << c.name;
    EXPECT_EQ(s.jobs.size(), c.transfers) << c.name;
    scanner.CloseWiaDeviceManager();
  }
  // Without a manager, or with a device that cannot be made, the session is done at once.
  ScriptedSession s;
  WiaScanner scanner(s);
  EXPECT_EQ(scanner.RunWiaScanSession("test:0"), kSessionDone);
  scanner.OpenWiaDeviceManager(&s);
  EXPECT_EQ(scanner.RunWiaScanSession(""), kSessionDone);
  EXPECT_TRUE(s.jobs.empty());
}

TEST(WiaSessionTest, ATransferAsksForBmpAndJpegOnlyWhenBothAreWanted) {
  struct Case {
    const char* name;
    bool offersJpeg;
    const char* extension;
    bool jpegFormat;
  };
  const Case cases[] = {
      {"JPG from a device without JPEG", false, ".jpg", false},
      {"JPG from a device with JPEG", true, ".jpg", true},
      {"BMP from a device with JPEG", true, ".bmp", false},
  };
  for (const Case& c : cases) {
    ScriptedSession s;
    s.offersJpeg = c.offersJpeg;
    s.extension = c.extension;
    WiaScanner scanner(s);
    scanner.OpenWiaDeviceManager(&s);
    scanner.RunWiaScanSession("test:0");
    ASSERT_EQ(s.jobs.size(), 1u) << c.name;
    EXPECT_EQ(s.jobs[0].jpegFormat, c.jpegFormat) << c.name;
    // The pages come at the item's resolution, with the item's document handling.
    EXPECT_EQ(s.jobs[0].resolution, 150) << c.name;
    EXPECT_EQ(s.jobs[0].documentHandling, kFeeder) << c.name;
  }
}

TEST(WiaCallbackTest, TheCallbackCountsItsReferencesAndAnswersOnlyItsInterfaces) {
  RecordingView view;
  TNetWIASaveCore core(view, {});
  CWiaDataCallback* callback = CWiaDataCallback::Create(core);
  EXPECT_EQ(callback->QueryInterface(CWiaDataCallback::Iid::WiaDataCallback, nullptr), kPointer);
  WiaDataCallback* out = callback;
  EXPECT_EQ(callback->QueryInterface(CWiaDataCallback::Iid::Other, &out), kNoInterface);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(callback->QueryInterface(CWiaDataCallback::Iid::Unknown, &out), kOk);
  EXPECT_EQ(out, callback);
  EXPECT_EQ(callback->BandedDataCallback(kMsgStatus, 0, 10), kOk);
  core.CancelClick();
  EXPECT_EQ(callback->BandedDataCallback(kMsgStatus, 0, 20), kFalse);
  EXPECT_EQ(callback->Release(), 1u);
  EXPECT_EQ(callback->Release(), 0u);
}

}  // namespace
