// SPDX-License-Identifier: GPL-2.0-or-later
// The notice window offscreen: where it comes to rest, what it shows, the slots and the clicks.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPointingDevice>
#include <memory>

#include "notices/ui/AboutBox.h"
#include "tests/support/OffscreenApp.h"

namespace tessaro {
namespace {

class RecordingShell : public Shell {
 public:
  bool OpenUrl(const std::string& url) override {
    opened.push_back(url);
    return true;
  }
  std::vector<std::string> opened;
};

bool WaitForRest(TAboutBox& notice) {
  QElapsedTimer waited;
  waited.start();
  while (notice.CurrentPhase() != TAboutBox::Phase::Resting && waited.elapsed() < 5000) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return notice.CurrentPhase() == TAboutBox::Phase::Resting;
}

// A mouse of the test's own: Qt's default device, made on first use, does not survive the
// application's teardown at exit.
const QPointingDevice& TestMouse() {
  static const QPointingDevice mouse("test mouse", 1, QInputDevice::DeviceType::Mouse,
                                     QPointingDevice::PointerType::Generic,
                                     QInputDevice::Capability::Position, 1, 3);
  return mouse;
}

void Click(QWidget* target) {
  const QPointF at(5, 5);
  QMouseEvent press(QEvent::MouseButtonPress, at, target->mapToGlobal(at), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier, &TestMouse());
  QApplication::sendEvent(target, &press);
}

class AboutBoxTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::OffscreenApp(); }
  // Notices are kept (not deleted on close) so the test can look at them afterwards.
  TAboutBox& Make() {
    notices_.push_back(std::make_unique<TAboutBox>(board_, shell_, false));
    return *notices_.back();
  }
  NoticeBoard board_{ComputeNoticeGeometry(0, 0, 1366, 738)};
  RecordingShell shell_;
  std::vector<std::unique_ptr<TAboutBox>> notices_;
};

// The share of pixels in `area` that are not the panel colour.
double InkIn(const QImage& image, const QRect& area) {
  int ink = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (image.pixelColor(x, y) != QColor(204, 240, 255)) ++ink;
    }
  }
  return static_cast<double>(ink) / (area.width() * area.height());
}

TEST_F(AboutBoxTest, ADeviceNoticeAtRestShowsItsTextOnThePanelColour) {
  TAboutBox& notice = Make();
  ASSERT_TRUE(notice.ShowDeviceFoundNotice("Acme Laser 1020"));
  ASSERT_TRUE(WaitForRest(notice));
  EXPECT_EQ(notice.pos(), QPoint(1366 - 190 - 16, 736 - 100));
  EXPECT_EQ(notice.width(), 190);

  const QImage picture = notice.grab().toImage();
  ASSERT_EQ(picture.size(), QSize(190, 100));
  // Empty panel below the text and beside the caption.
  EXPECT_EQ(picture.pixelColor(150, 90), QColor(204, 240, 255));
  EXPECT_EQ(picture.pixelColor(20, 28), QColor(204, 240, 255));
  // The text's lines: "Found" at the top of the label, the name two lines further down.
  const QRect found(16, 32, 80, 14);
  const QRect name(16, 58, 150, 14);
  EXPECT_GT(InkIn(picture, found), 0.05);
  EXPECT_GT(InkIn(picture, name), 0.05);
  // A notice for another device differs exactly where the name is.
  TAboutBox& other = Make();
  ASSERT_TRUE(other.ShowDeviceFoundNotice("Z"));
  ASSERT_TRUE(WaitForRest(other));
  const QImage otherPicture = other.grab().toImage();
  EXPECT_EQ(otherPicture.copy(found), picture.copy(found));
  EXPECT_NE(otherPicture.copy(name), picture.copy(name));
}

TEST_F(AboutBoxTest, DeviceNoticesStackInSlotsAndAFreedSlotIsTakenAgain) {
  for (int i = 0; i < 7; ++i)
    ASSERT_TRUE(Make().ShowDeviceFoundNotice("Device " + std::to_string(i)));
  EXPECT_FALSE(Make().ShowDeviceFoundNotice("one too many"));
  EXPECT_TRUE(notices_.back()->isHidden());
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(WaitForRest(*notices_[static_cast<size_t>(i)]));
  EXPECT_EQ(notices_[0]->y() - notices_[1]->y(), 101);
  EXPECT_EQ(notices_[1]->y() - notices_[2]->y(), 101);

  // An About notice rests where slot 0 does and takes no slot.
  TAboutBox& about = Make();
  about.ShowAboutNotice("1.0");
  ASSERT_TRUE(WaitForRest(about));
  EXPECT_EQ(about.y(), notices_[0]->y());
  EXPECT_EQ(about.Slot(), -1);
  EXPECT_TRUE(about.Text().startsWith("Version : 1.0\n\n"));

  Click(notices_[2]->findChild<QLabel*>("Image_Close"));
  EXPECT_EQ(notices_[2]->CurrentPhase(), TAboutBox::Phase::Closed);
  EXPECT_TRUE(notices_[2]->isHidden());
  TAboutBox& next = Make();
  ASSERT_TRUE(next.ShowDeviceFoundNotice("after"));
  EXPECT_EQ(next.Slot(), 2);
  for (auto& notice : notices_) notice->CloseNow();
  EXPECT_FALSE(board_.taken.AnyTaken());
}

TEST_F(AboutBoxTest, ANoticeRisesByItsHeightAndSinksBackBeforeItFreesItsSlot) {
  TAboutBox& notice = Make();
  ASSERT_TRUE(notice.ShowDeviceFoundNotice("Acme"));
  EXPECT_EQ(notice.CurrentPhase(), TAboutBox::Phase::Rising);
  EXPECT_EQ(notice.y(), 736);  // starts on its resting line, hidden below the panel's height
  ASSERT_TRUE(WaitForRest(notice));
  EXPECT_EQ(notice.y(), 636);
  notice.Sink();
  EXPECT_EQ(notice.CurrentPhase(), TAboutBox::Phase::Sinking);
  EXPECT_TRUE(board_.taken.AnyTaken());  // still on screen: the first version check waits
  QElapsedTimer waited;
  waited.start();
  while (notice.CurrentPhase() != TAboutBox::Phase::Closed && waited.elapsed() < 5000) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  EXPECT_EQ(notice.CurrentPhase(), TAboutBox::Phase::Closed);
  EXPECT_EQ(notice.y(), 736);
  EXPECT_TRUE(notice.isHidden());
  EXPECT_FALSE(board_.taken.AnyTaken());
}

TEST_F(AboutBoxTest, TheClosePictureLightsOnlyInsideItsInnerArea) {
  TAboutBox& notice = Make();
  notice.ShowAboutNotice("1.0");
  auto* close = notice.findChild<QLabel*>("Image_Close");
  const auto picture = [close] { return close->pixmap().toImage(); };
  const QImage normal = picture();
  const auto move = [&](int x, int y) {
    const QPointF at(x, y);
    QMouseEvent event(QEvent::MouseMove, at, close->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                      Qt::NoModifier, &TestMouse());
    QApplication::sendEvent(close, &event);
  };
  move(8, 8);
  const QImage lit = picture();
  EXPECT_NE(lit, normal);
  move(2, 8);
  EXPECT_EQ(picture(), normal);
  move(12, 12);
  EXPECT_EQ(picture(), lit);
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(close, &leave);
  EXPECT_EQ(picture(), normal);
}

TEST_F(AboutBoxTest, OnlyANewVersionNoticeWithAnAddressOpensIt) {
  TAboutBox& about = Make();
  about.ShowAboutNotice("1.0");
  TAboutBox& device = Make();
  device.ShowDeviceFoundNotice("Acme");
  TAboutBox& quiet = Make();
  quiet.ShowNewVersionNotice("v1.2", "");
  TAboutBox& version = Make();
  version.ShowNewVersionNotice("v1.2", "http://www.example/tu.exe");
  EXPECT_EQ(version.Text(), "Tessaro Utility v1.2 is\nnow avaiable !");
  for (TAboutBox* notice : {&about, &device, &quiet}) {
    Click(notice);
    Click(notice->findChild<QLabel*>("Label_Version"));
  }
  EXPECT_TRUE(shell_.opened.empty());
  Click(&version);
  Click(version.findChild<QLabel*>("Label_Version"));
  EXPECT_EQ(shell_.opened,
            (std::vector<std::string>{"http://www.example/tu.exe", "http://www.example/tu.exe"}));
}

}  // namespace
}  // namespace tessaro
