// SPDX-License-Identifier: GPL-2.0-or-later
// TOptionFm offscreen over a real hive: what it shows, the days refusal on leaving the edit, OK
// writing what the user set, the network rule for the check button.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>

#include "options/ui/OptionFm.h"
#include "platform/linux/CurlHttpClient.h"
#include "tests/support/FakeClock.h"
#include "tests/support/HiveFixture.h"
#include "tests/support/OffscreenApp.h"
#include "tests/support/ScriptedUi.h"

namespace tessaro {
namespace {

class IdleTimer : public VersionTimer {
 public:
  void SetEnabled(bool) override {}
  void SetInterval(int) override {}
  int Interval() const override { return kCheckEveryMs; }
};

class NoShell : public Shell {
 public:
  bool OpenUrl(const std::string&) override { return false; }
};

QPushButton* Button(QWidget& form, const QString& text) {
  for (auto* button : form.findChildren<QPushButton*>()) {
    if (button->text() == text) return button;
  }
  return nullptr;
}

class OptionFmTest : public HiveTest {
 protected:
  void LeaveDaysEdit() {
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(Days(), &out);
  }
  QLineEdit* Days() { return form_.findChild<QLineEdit*>("Edit_CheckDays"); }
  QCheckBox* Box(const char* textStart) {
    for (auto* box : form_.findChildren<QCheckBox*>()) {
      if (box->text().startsWith(textStart)) return box;
    }
    return nullptr;
  }

  QApplication& app_ = testing::OffscreenApp();  // before any widget
  CurlHttpClient http_;
  testing::ScriptedUi ui_;
  testing::FakeClock clock_;
  IdleTimer timer_;
  NoShell shell_;
  NotifySettings settings_;
  OptionsCore core_{
      {registry_, http_, ui_, clock_}, shell_, timer_, settings_, "http://127.0.0.1:9/"};
  TOptionFm form_{core_, nullptr};
};

TEST_F(OptionFmTest, ShowsTheSettingsAndWritesWhatTheUserSet) {
  settings_.NotifyCheckDays = 90;
  form_.Prepare(false);
  ASSERT_NE(Box("Run Tessaro Utility when Windows starts"), nullptr);
  EXPECT_TRUE(Box("Run ")->isChecked());
  EXPECT_EQ(Days()->text(), "90");
  EXPECT_FALSE(Button(form_, "Check for a new version now...")->isEnabled());
  form_.NetworkChanged(true);
  EXPECT_TRUE(Button(form_, "Check for a new version now...")->isEnabled());

  Box("Run ")->setChecked(false);
  Box("Notify me if there are any new USB")->setChecked(false);
  Days()->setText("200");
  Button(form_, "OK")->click();
  EXPECT_EQ(form_.result(), QDialog::Accepted);
  EXPECT_EQ(UserText("AutoRun Check"), "0");
  EXPECT_EQ(UserText("Notify Device Detect"), "0");
  EXPECT_EQ(UserText("Notify New Version"), "1");
  EXPECT_EQ(UserText("Notify Check Days"), "200");
}

TEST_F(OptionFmTest, LeavingTheEditWithFiftyNineBringsBackThePreviousText) {
  form_.Prepare(true);
  Days()->setText("59");
  LeaveDaysEdit();
  EXPECT_EQ(Days()->text(), "60");
  ASSERT_EQ(ui_.messages().size(), 1u);
  EXPECT_EQ(ui_.messages()[0].text, "Please input the 60 - 365 integer.");

  // OK with a refused text closes nothing and stores nothing.
  Days()->setText("366");
  Button(form_, "OK")->click();
  EXPECT_EQ(Days()->text(), "60");
  EXPECT_EQ(UserText("Notify Check Days"), std::nullopt);
  EXPECT_EQ(ui_.messages().size(), 2u);
}

}  // namespace
}  // namespace tessaro
