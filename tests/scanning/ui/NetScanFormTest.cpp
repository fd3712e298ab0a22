// SPDX-License-Identifier: GPL-2.0-or-later
// The TWAIN scan window on Qt's off-screen platform: what it shows at start, and one whole scan
// from a scripted scanner to the saved page.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <filesystem>

#include "platform/qt/QtPlatform.h"
#include "scanning/twain/TwainManager.h"
#include "scanning/twain/WinIni.h"
#include "scanning/ui/NetScanForm.h"
#include "tests/scanning/twain/FakeScanner.h"
#include "tests/support/OffscreenApp.h"
#include "tests/support/PageFixtures.h"
#include "tests/support/ScriptedUi.h"

namespace tessaro {
namespace {

QApplication& App() { return tessaro::testing::OffscreenApp(); }

class NoLock : public twain::ScanLockPort {
 public:
  bool LockDevice(int, const std::string&, uint32_t) override { return true; }
  bool UnlockDevice(int, const std::string&) override { return true; }
};

class NetScanFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    twain::TwainManager::Install(&manager_);
  }
  void TearDown() override { twain::TwainManager::Install(nullptr); }

  NetScanSetup Setup() const {
    return {windows_.path().string(), documents_.path().string(), pictures_.path().string() + "/"};
  }

  testing::TempFolder windows_, documents_, pictures_;
  testing::FakeScannerSource scanners_;
  twain::TwainManager manager_{scanners_, windows_.path().string()};
  testing::ScriptedUi ui_;
  QtMainThread main_;
  NoLock lock_;
};

TEST_F(NetScanFormTest, StartsWithItsTextsAndFindsTwainOnlyWhereASourceIsInstalled) {
  {
    TNetScanFm form(ui_, main_, lock_, Setup());
    EXPECT_FALSE(form.TwainReady());
  }
  ASSERT_TRUE(twain::InstallSaneDataSource(windows_.path().string()));
  TNetScanFm form(ui_, main_, lock_, Setup());
  EXPECT_TRUE(form.TwainReady());
  EXPECT_EQ(form.windowTitle(), "Welcome to the Auto-Connect Scanner");
  EXPECT_EQ(form.FileNameEdit->text(), "Picture");
  EXPECT_EQ(form.FileNameEdit->maxLength(), 64);
  EXPECT_EQ(form.FileFmtComboBox->currentText(), "JPG (JPEG Image)");
  EXPECT_EQ(form.PageLabel->text(), "No. 0 Page.");
  EXPECT_FALSE(form.PBtn->isEnabled());
  EXPECT_EQ(form.Twain().Productname(), "Auto-Connect Scanner");
  EXPECT_EQ(form.Twain().ProductFamily(), "ZED IZU Radiru");
  EXPECT_EQ(form.TimeoutTimer.interval(), 180000);
  form.show();
  EXPECT_EQ(form.FilePathEdit->text().toStdString(), pictures_.path().string() + "/");
}

TEST_F(NetScanFormTest, ScansAPageShowsItAndSavesIt) {
  ASSERT_TRUE(twain::InstallSaneDataSource(windows_.path().string()));
  scanners_.scripts["scan:a"].pages = {testing::GreyPage(40, 30)};
  TNetScanFm form(ui_, main_, lock_, Setup());
  form.Twain().SetShowUI(false);
  form.Core().SetSession({1, "2", "PC", "PC", true});
  form.show();
  form.FileFmtComboBox->setCurrentIndex(1);  // BMP
  form.ScanBtn->click();
  QElapsedTimer waited;
  waited.start();
  while ((!form.ScanBtn->isEnabled() || form.SaveFileTimer.isActive()) &&
         waited.elapsed() < 10000) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  EXPECT_TRUE(form.ScanBtn->isEnabled());
  EXPECT_FALSE(form.SaveFileTimer.isActive());
  EXPECT_TRUE(form.TimeoutTimer.isActive());
  EXPECT_EQ(form.PageLabel->text(), "No. 1 Page.");
  EXPECT_EQ(form.InfoSText_FileName->text(), "Picture.bmp");
  EXPECT_EQ(form.InfoSText_Pixel->text(), "40 x 30 pixels");
  EXPECT_EQ(form.InfoSText_Res->text(), "300 dpi");
  EXPECT_EQ(form.NoteSText->text(), " 1 picture(s) were scanned.");
  EXPECT_TRUE(std::filesystem::exists(pictures_.path() / "Picture.bmp"));
  EXPECT_TRUE(ui_.messages().empty());
}

}  // namespace
}  // namespace tessaro
