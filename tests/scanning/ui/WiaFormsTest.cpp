// SPDX-License-Identifier: GPL-2.0-or-later
// The WIA path's dialogs on Qt's off-screen platform: the settings dialog keeps itself open until
// its fields are right, and the progress dialog runs its transfer on its timer, turns Cancel into
// Close at the end and offers "< Back" only after a run that was not cancelled.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "scanning/wia/WiaTexts.h"
#include "scanning/wia/ui/WiaForms.h"
#include "tests/scanning/wia/ScriptedWiaItem.h"
#include "tests/support/OffscreenApp.h"
#include "tests/support/PageFixtures.h"
#include "tests/support/ScriptedUi.h"

namespace tessaro {
namespace {

// Runs `step` on the dialog's event loop every 20 ms until it answers true.
void WhileModal(const std::function<bool()>& step) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, timer, [timer, step] {
    if (step()) timer->deleteLater();
  });
  timer->start(20);
}

class WiaFormsTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::OffscreenApp(); }
  wia::WiaTransferJob Job() {
    wia::WiaTransferJob job;
    job.item = &item_;
    job.settings = {folder_.path().string() + "/", "Picture", ".jpg"};
    job.documentHandling = wia::kFeeder;
    job.resolution = 150;
    return job;
  }
  testing::TempFolder folder_;
  testing::ScriptedItem item_;
  testing::ScriptedUi ui_;
};

TEST_F(WiaFormsTest, TheProgressDialogEndsWithCloseAndOffersBackAfterAFullRun) {
  TNetWIASaveFm form(ui_);
  bool sawClose = false;
  WhileModal([&] {
    if (form.CancelBtn->text() != "Close") return false;
    sawClose = true;
    EXPECT_TRUE(form.BackBtn->isEnabled());
    EXPECT_EQ(form.Edit_Location->text().toStdString(), folder_.path().string() + "/");
    EXPECT_EQ(form.Label_Percent->text(), "100% complete");
    form.BackBtn->click();
    return true;
  });
  EXPECT_EQ(form.Run(Job()), answer::kRetry);
  EXPECT_TRUE(sawClose);
  EXPECT_EQ(folder_.Names(),
            (std::set<std::string>{"Picture.jpg", "Picture_001.jpg", "Picture_002.jpg"}));
}

TEST_F(WiaFormsTest, CancelDuringThePageStopsTheRunAndLeavesNoBack) {
  TNetWIASaveFm form(ui_);
  // The transfer processes events while it reports progress, so the button works meanwhile.
  item_.onPage = [&](int page) {
    if (page == 2) form.CancelBtn->click();
  };
  WhileModal([&] {
    if (form.CancelBtn->text() != "Close") return false;
    EXPECT_FALSE(form.BackBtn->isEnabled());
    EXPECT_EQ(form.Label_Cancel->text().toStdString(), wia::kCancelledScan);
    form.CancelBtn->click();
    return true;
  });
  EXPECT_EQ(form.Run(Job()), answer::kCancel);
  EXPECT_EQ(folder_.Names(), std::set<std::string>{"Picture.jpg"});
  ASSERT_EQ(ui_.messages().size(), 1u);
  EXPECT_EQ(ui_.messages()[0].text, wia::kScanCancelled);
}

TEST_F(WiaFormsTest, TheSettingsDialogStaysOpenUntilItsFieldsAreRight) {
  TNetWIASetFm form(ui_, folder_.path().string());
  int step = 0;
  WhileModal([&] {
    if (step++ == 0) {
      EXPECT_EQ(form.FilePathEdit->text().toStdString(), folder_.path().string() + "/");
      form.FileNameEdit->clear();
      form.NextBtn->click();  // says so and stays open
      return false;
    }
    form.FileNameEdit->setText("Receipts");
    form.FileFmtComboBox->setCurrentIndex(1);
    form.NextBtn->click();
    return true;
  });
  wia::WiaScanSettings settings;
  EXPECT_EQ(form.Run(settings), answer::kOk);
  EXPECT_EQ(settings.folder + settings.baseName + settings.extension,
            folder_.path().string() + "/Receipts.bmp");
  ASSERT_EQ(ui_.messages().size(), 1u);
  EXPECT_EQ(ui_.messages()[0].text, wia::SNo_PFile_Name);
}

}  // namespace
}  // namespace tessaro
