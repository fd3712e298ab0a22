// SPDX-License-Identifier: GPL-2.0-or-later
// The device list's mouse rules on Qt's off-screen platform: a click opens the menu after the
// click delay, a double click runs the quick scan and opens no menu, a right click opens the
// menu at once, and a click below the rows opens nothing. The model's order changes keep the
// selection on its row.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QTest>

#include "devices/DeviceListModel.h"
#include "devices/MainWindowPort.h"
#include "devices/ui/DeviceListView.h"

namespace tessaro {
namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "test_device_list_view";
  static char* argv[] = {name, nullptr};
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static auto* app = new QApplication(argc, argv);  // never destroyed: Qt's globals go first
  return *app;
}

std::unique_ptr<DeviceData> Device(const std::string& type, const std::string& product) {
  auto d = std::make_unique<DeviceData>();
  d->type = type;
  d->manufacturer = "Maker";
  d->product = product;
  d->displayName = "Maker - " + product;
  d->stateText = " - Waiting to Connect";
  d->deviceNumber = "1";
  return d;
}

class DeviceListViewTest : public ::testing::Test {
 protected:
  DeviceListViewTest() {
    App();
    rows_.AppendRow(Device("PRINTER", "Laser"));
    rows_.AppendRow(Device("SCANNER", "Flatbed"));
    DeviceListHooks hooks;
    hooks.computerName = [] { return std::string("PC-A"); };
    hooks.prepareMenu = [this](size_t row) {
      menus_.push_back(row);
      return std::vector<DeviceMenuItem>{
          {"ConnectMItem", DeviceCommand::Connect, "Connect", 0, true, true, false}};
    };
    hooks.quickScan = [this](size_t row) { scans_.push_back(row); };
    view_ = std::make_unique<DeviceListView>(model_, hooks);
    view_->resize(289, 351);
    view_->show();
    QCursor::setPos(view_->viewport()->mapToGlobal(QPoint(100, 20)));
  }
  ~DeviceListViewTest() override { view_->deviceMenu()->close(); }

  QPoint RowPoint(int row) const { return QPoint(100, row * kRowHeight + 20); }

  NoWindow window_;
  DeviceListModel rows_{window_};
  DeviceItemModel model_{rows_};
  std::unique_ptr<DeviceListView> view_;
  std::vector<size_t> menus_;
  std::vector<size_t> scans_;
};

TEST_F(DeviceListViewTest, ClickOpensTheMenuAfterTheClickDelay) {
  QTest::mouseClick(view_->viewport(), Qt::LeftButton, {}, RowPoint(1));
  EXPECT_TRUE(menus_.empty());  // not before the 300 ms
  QTest::qWait(450);
  EXPECT_EQ(menus_, std::vector<size_t>{1});
  EXPECT_EQ(view_->currentIndex().row(), 1);
}

TEST_F(DeviceListViewTest, DoubleClickRunsTheQuickScanAndOpensNoMenu) {
  QTest::mouseClick(view_->viewport(), Qt::LeftButton, {}, RowPoint(1));
  QTest::mouseDClick(view_->viewport(), Qt::LeftButton, {}, RowPoint(1));
  QTest::mouseRelease(view_->viewport(), Qt::LeftButton, {}, RowPoint(1));  // as a real mouse
  QTest::qWait(450);
  EXPECT_EQ(scans_, std::vector<size_t>{1});
  EXPECT_TRUE(menus_.empty());
}

TEST_F(DeviceListViewTest, RightClickOpensTheMenuAtOnceAndEmptySpaceOpensNothing) {
  QTest::mousePress(view_->viewport(), Qt::RightButton, {}, RowPoint(0));
  EXPECT_EQ(menus_, std::vector<size_t>{0});
  view_->deviceMenu()->close();
  QTest::mouseClick(view_->viewport(), Qt::LeftButton, {}, QPoint(100, 300));
  QTest::qWait(450);
  EXPECT_EQ(menus_, std::vector<size_t>{0});
}

TEST_F(DeviceListViewTest, SelectionFollowsItsRowWhenTheOrderChanges) {
  view_->setCurrentIndex(model_.index(1));  // the scanner
  rows_.AppendRow(Device("MASS STORAGE", "Stick"));
  rows_.SortRows();  // storage first: the scanner moves to the end
  ASSERT_EQ(rows_.row(0).type, "MASS STORAGE");
  EXPECT_EQ(model_.Device(view_->currentIndex())->product, "Flatbed");
}

}  // namespace
}  // namespace tessaro
