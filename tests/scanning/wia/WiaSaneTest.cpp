// SPDX-License-Identifier: GPL-2.0-or-later
// The WIA-shaped device and the TWAIN source walk over SANE's test backend, configured in a
// private folder: a feeder that runs dry after its ten sheets, a flatbed's one page, a cancel from
// the data callback in the middle of a page, and the TWAIN source Scan Now picks by name.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/linux/SaneScannerSource.h"
#include "scanning/pages/ImageFormats.h"
#include "scanning/twain/TwainManager.h"
#include "scanning/wia/ScannerWiaDevice.h"
#include "scanning/wia/TwainPath.h"
#include "scanning/wia/WiaSession.h"
#include "tests/scanning/twain/TwainFixture.h"
#include "tests/scanning/wia/ScriptedWiaItem.h"
#include "tests/support/PageFixtures.h"
#include "tests/support/SaneTestBackend.h"

namespace tessaro {
namespace {

using namespace wia;

class FixedDialog : public DeviceDialog {
 public:
  bool Run(const DeviceOffer& shown, DeviceChoices& choices) override {
    offer = shown;
    choices = wanted;
    return true;
  }
  DeviceChoices wanted{ScanSource::Feeder, ScanMode::Gray, 25};
  DeviceOffer offer;
};

// One session's dialogs: fixed device choices, the group "Page" in JPG, the transfer run here.
class Session : public WiaSessionUi {
 public:
  explicit Session(const std::string& folder) : folder_(folder) {}
  DeviceDialog& DeviceDialogOf() override { return dialog; }
  int RunSettings(WiaScanSettings& settings) override {
    const auto exists = [](const std::string& f) { return std::filesystem::exists(f); };
    settings = {folder_ + "/", *FreeGroupBaseName(folder_ + "/", "Page", ".jpg", exists), ".jpg"};
    return answer::kOk;
  }
  int RunTransfer(const WiaTransferJob& job) override {
    core = std::make_unique<TNetWIASaveCore>(view, job);
    core->Show();
    core->Run();
    return answer::kCancel;
  }
  void ShowMessage(const std::string& text) override { view.messages.push_back(text); }

  FixedDialog dialog;
  testing::RecordingView view;
  std::unique_ptr<TNetWIASaveCore> core;

 private:
  std::string folder_;
};

class WiaSaneTest : public ::testing::Test {
 protected:
  std::set<std::string> ScanOnce(Session& session) {
    ScannerWiaDeviceManager manager(sane_);
    WiaScanner scanner(session);
    scanner.OpenWiaDeviceManager(&manager);
    EXPECT_EQ(scanner.RunWiaScanSession("test:0"), kSessionDone);
    scanner.CloseWiaDeviceManager();
    return folder_.Names();
  }
  testing::SaneTestBackend backend_;
  SaneScannerSource sane_;
  testing::TempFolder folder_;
};

TEST_F(WiaSaneTest, TheFeederRunsDryAfterItsTenSheetsAndAFlatbedGivesOnePage) {
  Session feeder(folder_.path().string());
  const auto pages = ScanOnce(feeder);
  EXPECT_EQ(pages.size(), 10u);
  EXPECT_TRUE(pages.count("Page.jpg") && pages.count("Page_009.jpg"));
  EXPECT_TRUE(feeder.dialog.offer.hasFeeder && feeder.dialog.offer.hasFlatbed);
  EXPECT_EQ(GetJfifDensity(testing::ReadBytes(folder_ / "Page_009.jpg")), 25);
  EXPECT_TRUE(feeder.view.messages.empty());
  EXPECT_EQ(feeder.view.backEnabled, true);

  Session flatbed(folder_.path().string());
  flatbed.dialog.wanted.source = ScanSource::Flatbed;
  EXPECT_TRUE(ScanOnce(flatbed).count("Page 001.jpg"));
  EXPECT_EQ(flatbed.core->Files().size(), 1u);
}

TEST_F(WiaSaneTest, ACancelInTheMiddleOfAPageKeepsThePagesBeforeAndTheDeviceScansAgain) {
  Session cancelled(folder_.path().string());
  // Cancelled halfway through the second page.
  int pagesDone = 0;
  cancelled.view.onProgress = [&](int32_t percent) {
    if (percent == 100) ++pagesDone;
    if (pagesDone == 1 && percent == 50) cancelled.core->CancelClick();
  };
  cancelled.dialog.wanted.resolution = 100;
  EXPECT_EQ(ScanOnce(cancelled), (std::set<std::string>{"Page.jpg"}));
  EXPECT_EQ(cancelled.view.backEnabled, false);

  Session next(folder_.path().string());
  next.dialog.wanted.source = ScanSource::Flatbed;
  ScanOnce(next);
  EXPECT_EQ(next.core->Files().size(), 1u);
  EXPECT_TRUE(next.view.messages.empty());
  EXPECT_TRUE(folder_.Names().count("Page 001.jpg"));
}

TEST_F(WiaSaneTest, TheTwainPathFindsItsSourceByNameIgnoringCase) {
  testing::FakeTwainHost host;
  twain::TwainManager manager(sane_, host.windows.path().string());
  twain::TwainManager::Install(&manager);
  twain::TTwainScanner scanner(host);
  scanner.InitTWAIN();
  scanner.OpenDataSourceManager();
  const auto found = FindTwainSource(scanner, "TEST:1");
  ASSERT_TRUE(found);
  EXPECT_STREQ(found->ProductName, "test:1");
  EXPECT_FALSE(FindTwainSource(scanner, "test:9"));
  EXPECT_FALSE(FindTwainSource(scanner, ""));
  scanner.CloseDataSourceManager();
  twain::TwainManager::Install(nullptr);
}

}  // namespace
}  // namespace tessaro
