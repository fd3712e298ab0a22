// SPDX-License-Identifier: GPL-2.0-or-later
// The saving window on Qt's off-screen platform: its texts, bar, cursor and placement.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QWidget>

#include "scanning/ui/SaveFileForm.h"
#include "tests/support/OffscreenApp.h"

namespace {

QApplication& App() { return tessaro::testing::OffscreenApp(); }

TEST(SaveFileFormTest, ShowsItsTextsWithoutWaitingCentredOnItsOwner) {
  App();
  QWidget owner;
  owner.setGeometry(100, 200, 800, 600);
  owner.show();
  tessaro::TSaveFileFm form(&owner);
  form.ShowCentred();
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(form.isModal());
  EXPECT_EQ(form.windowTitle(), "Save to File...");
  EXPECT_EQ(form.frame()->title(), "!!!  Saving Picture  !!!");
  EXPECT_EQ(form.message()->text(), "Please wait a moment !");
  EXPECT_EQ(form.progress()->minimum(), 0);
  EXPECT_EQ(form.progress()->maximum(), 100);
  EXPECT_EQ(form.progress()->value(), 0);
  EXPECT_EQ(form.cursor().shape(), Qt::WaitCursor);
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  EXPECT_LE((form.frameGeometry().center() - owner.frameGeometry().center()).manhattanLength(), 2);
  form.close();
  EXPECT_FALSE(form.isVisible());
}

}  // namespace
