// SPDX-License-Identifier: GPL-2.0-or-later
// TDeviceSetupFm on Qt's off-screen platform: each page's title and buttons, the lists' state
// images, grey rows and tips, placement beside the main window, and whole runs clicked through
// the form over the real hive, a private cupsd and the print monitors.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "setup/SetupTexts.h"
#include "setup/ui/DeviceSetupForm.h"
#include "tests/setup/DeviceSetupFixture.h"
#include "tests/setup/WizardFakes.h"
#include "tests/support/Watchdog.h"

using namespace tessaro;
using namespace tessaro::setup;

namespace {

template <typename T>
T* Child(QWidget& form, const char* name) {
  T* child = form.findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(child, nullptr) << name;
  return child;
}

// What the form shows: the page's name, its title, the Next button's caption and whether
// Cancel is there.
struct Look {
  std::string page;
  std::string title;
  std::string next;
  bool cancel;
  bool operator==(const Look&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Look& look) {
  return out << look.page << " \"" << look.title << "\" [" << look.next << "]"
             << (look.cancel ? " [Cancel]" : "");
}

Look LookOf(TDeviceSetupFm& form) {
  return {Child<QStackedWidget>(form, "")->currentWidget()->objectName().toStdString(),
          Child<QLabel>(form, "Label_Title")->text().toStdString(),
          Child<QPushButton>(form, "NextBtn")->text().toStdString(),
          Child<QPushButton>(form, "CancelBtn")->isVisible()};
}

void Click(TDeviceSetupFm& form, const char* button) {
  Child<QAbstractButton>(form, button)->click();
}

// Presses a row of a list as the user does, on its state image.
void PressRow(TDeviceSetupFm& form, const char* list, int row) {
  QTreeWidget* view = Child<QTreeWidget>(form, list);
  ASSERT_LT(row, view->topLevelItemCount());
  const QRect rect = view->visualItemRect(view->topLevelItem(row));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
}

// Made before any widget of a case, and never destroyed: at exit the pointing device QTest's
// clicks brought in may already be gone.
struct WithApp {
  WithApp() {
    static int argc = 1;
    static char name[] = "test_device_setup_form";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (QApplication::instance() == nullptr) new QApplication(argc, argv);
  }
};

class FormPages : public WithApp, public ::testing::Test {
 protected:
  Rig rig;
  TDeviceSetupFm form{nullptr};
};

TEST_F(FormPages, EachPageShowsItsTitleAndButtons) {
  struct Step {
    const char* click;  // the button clicked before the look is taken, or none
    Look look;
  };
  struct Flow {
    const char* name;
    const char* type;
    bool older;
    std::vector<Step> steps;
  };
  const std::vector<Flow> flows = {
      {"printer installing on an older system",
       "PRINTER",
       true,
       {{nullptr,
         {"InstallTabSt", "Please verify the printer software or MFP utility status.", "Next",
          true}},
        {"RBtn_Install1",
         {"InstallTabSt", "Please verify the printer software or MFP utility status.", "Next",
          true}},
        {"NextBtn",
         {"CDROMTabSt", "Insert the printer software / MFP utility CD into your CD-ROM.", "Next",
          false}},
        {"NextBtn", {"ConnectTabSt", "Printer Connect Status", "Next", false}},
        {"NextBtn",
         {"AutoScanTabSt", "Setting the scanner function for MFP / Printer", "Next", false}},
        {"NextBtn",
         {"AutoPrintTabSt", "Auto Connect the Printer / MFP issue the jobs.", "OK", false}}}},
      {"MFP on a later system",
       "MFP",
       false,
       {{"NextBtn", {"ConnectTabSt", "MFP Connect Status", "Next", false}}}},
      {"scanner on a later system",
       "SCANNER",
       false,
       {{nullptr, {"InstallTabSt", "Please verify the scanner software status.", "Next", true}},
        {"NextBtn", {"ConnectScannerTabSt", "Scanner Connect Status", "OK", false}}}},
  };
  for (const Flow& flow : flows) {
    SCOPED_TRACE(flow.name);
    const SetupDevice device = DeviceOfType(flow.type);
    if (IsScannerLike(flow.type)) {
      rig.wizard.StartScannerRun(device, {std::nullopt, device.displayName, flow.older},
                                 MakerLists());
    } else {
      rig.wizard.StartPrinterRun(device, {std::nullopt, device.displayName, flow.older},
                                 MakerLists(), -1);
    }
    form.Attach(rig.wizard);
    form.show();
    for (const Step& step : flow.steps) {
      if (step.click != nullptr) Click(form, step.click);
      EXPECT_EQ(LookOf(form), step.look) << "after " << (step.click ? step.click : "opening");
    }
    form.hide();
  }
}

TEST_F(FormPages, TroubleshootingShowsThePanelOfTheChosenOption) {
  const SetupDevice device = DeviceOfType("PRINTER");
  AutoConnectInfo entry;
  entry.PrinterEnable = 1;
  entry.PrinterName = "Acme Laser";
  SetupLists lists = MakerLists();
  lists.printers = {{"Acme Laser", "tessaro://x"}};
  rig.wizard.StartPrinterRun(device, {entry, device.displayName, false}, lists, 0);
  form.Attach(rig.wizard);
  form.show();
  EXPECT_EQ(LookOf(form), (Look{"TroubleTabSt", "Printer & MFP TroubleShooting", "Close", false}));
  EXPECT_FALSE(Child<QPushButton>(form, "OKBtn")->isVisible());
  EXPECT_TRUE(Child<QWidget>(form, "Panel_Trouble1")->isVisible());
  EXPECT_EQ(Child<QRadioButton>(form, "RBtn_Trouble3")->text(), "Remove the scanner.");
  Click(form, "RBtn_Trouble2");
  EXPECT_TRUE(Child<QPushButton>(form, "OKBtn")->isVisible());
  EXPECT_TRUE(Child<QWidget>(form, "Panel_Trouble2")->isVisible());
  EXPECT_FALSE(Child<QWidget>(form, "Panel_Trouble1")->isVisible());
}

TEST_F(FormPages, UnknownDeviceTroubleshootingSpeaksOfAUsbDevice) {
  const SetupDevice device = DeviceOfType("UNKNOWN");
  AutoConnectInfo entry;
  entry.ScanIndex = 1;
  rig.wizard.StartScannerRun(device, {entry, device.displayName, false}, MakerLists());
  form.Attach(rig.wizard);
  form.show();
  EXPECT_EQ(LookOf(form), (Look{"TroubleTabSt", "USB Device TroubleShooting", "Close", false}));
  EXPECT_EQ(Child<QRadioButton>(form, "RBtn_Trouble1")->text().toStdString(),
            text::kTroubleUnknownFirst);
  EXPECT_EQ(Child<QLabel>(form, "Memo_Trouble1")->text().toStdString(), text::kTroubleUnknownHelp);
  EXPECT_FALSE(Child<QRadioButton>(form, "RBtn_Trouble3")->isVisible());
}

TEST_F(FormPages, PrinterRowsShowTheirStateGreyAndTip) {
  const SetupDevice device = DeviceOfType("PRINTER");
  rig.wizard.StartPrinterRun(device, {std::nullopt, device.displayName, false}, MakerLists(), -1);
  form.Attach(rig.wizard);
  form.show();
  Click(form, "NextBtn");
  Click(form, "NextBtn");
  QTreeWidget* view = Child<QTreeWidget>(form, "PrinterListView");
  ASSERT_EQ(view->topLevelItemCount(), static_cast<int>(rig.wizard.printerRows().size()));
  const int grey = static_cast<int>(rig.RowNamed("Office file"));
  const int free = static_cast<int>(rig.RowNamed("Acme Laser"));
  EXPECT_EQ(view->topLevelItem(grey)->foreground(0).color(), QColor(128, 128, 128));
  EXPECT_EQ(view->topLevelItem(grey)->toolTip(0).toStdString(), text::kTipUnsuitablePort);
  EXPECT_TRUE(view->topLevelItem(free)->toolTip(0).isEmpty());
  const QImage unchecked = view->topLevelItem(free)->icon(0).pixmap(16, 16).toImage();

  PressRow(form, "PrinterListView", grey);
  EXPECT_EQ(rig.wizard.printerRows()[static_cast<size_t>(grey)].state, RowState::Unavailable);
  PressRow(form, "PrinterListView", free);
  EXPECT_EQ(rig.wizard.printerRows()[static_cast<size_t>(free)].state, RowState::Checked);
  EXPECT_TRUE(view->topLevelItem(free)->isSelected());
  EXPECT_NE(view->topLevelItem(free)->icon(0).pixmap(16, 16).toImage(), unchecked);
  PressRow(form, "PrinterListView", free);
  EXPECT_EQ(rig.wizard.printerRows()[static_cast<size_t>(free)].state, RowState::Unchecked);
}

TEST(FormPlacement, BesideTheMainWindowOnTheSideThatFits) {
  const QRect screen(0, 0, 1024, 768);
  const QSize size(460, 400);
  EXPECT_EQ(PlaceBesideOwner(QRect(100, 50, 300, 500), size, screen), QPoint(400, 50));
  EXPECT_EQ(PlaceBesideOwner(QRect(600, 80, 300, 500), size, screen), QPoint(140, 80));
  EXPECT_EQ(PlaceBesideOwner(QRect(264, 0, 300, 500), size, screen), QPoint(564, 0));
}

// Whole runs through the form, with the user's clicks made once the form is up.
class FormRuns : public WithApp, public tessaro::testing::DeviceSetupRig {
 protected:
  void SetUp() override {
    DeviceSetupRig::SetUp();
    UseWindow(form);
  }
  // Runs `command` with `clicks` made inside the form; the form is closed if they leave it up.
  void RunWith(std::function<void()> command, std::function<void()> clicks) {
    QTimer::singleShot(0, &form, [&] {
      clicks();
      if (form.isVisible()) form.reject();
    });
    command();
  }
  int RowNamed(const char* list, const char* name) {
    QTreeWidget* view = Child<QTreeWidget>(form, list);
    for (int i = 0; i < view->topLevelItemCount(); ++i)
      if (view->topLevelItem(i)->text(0) == QString::fromLatin1(name)) return i;
    return -1;
  }
  tessaro::testing::Watchdog watchdog{std::chrono::seconds(30)};
  TDeviceSetupFm form{nullptr};
};

TEST_F(FormRuns, ChosenQueueIsStoredAndItsMonitorStarts) {
  RunWith([&] { setup->ManagePrinter(RowOf(tessaro::testing::kPrinter)); },
          [&] {
            Click(form, "NextBtn");
            Click(form, "NextBtn");
            PressRow(form, "PrinterListView", RowNamed("PrinterListView", "Lumen_Laser"));
            Click(form, "NextBtn");
          });
  EXPECT_FALSE(form.isVisible());
  const auto entry = Stored("0042", "LW2040-1");
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->PrinterName, "Lumen_Laser");
  EXPECT_EQ(entry->PrinterEnable, 1);
  ASSERT_EQ(printers.size(), 2u);
  EXPECT_NE(monitors.MonitorOf(*printers[1]), nullptr);
}

TEST_F(FormRuns, RemovingTheScannerRecognitionMakesTheRowUnknownAgain) {
  RunWith([&] { setup->ManageScanner(RowOf(tessaro::testing::kScanner)); },
          [&] {
            Click(form, "NextBtn");
            Click(form, "NextBtn");
          });
  ASSERT_EQ(model.row(RowOf(tessaro::testing::kScanner)).type, "Scanner");
  RunWith([&] { setup->ManageScanner(RowOf(tessaro::testing::kScanner)); },
          [&] {
            EXPECT_EQ(LookOf(form).title, "Scanner TroubleShooting");
            Click(form, "RBtn_Trouble3");
            PressRow(form, "ScanListView1", 0);
            Click(form, "OKBtn");
            Click(form, "NextBtn");
          });
  EXPECT_EQ(model.row(RowOf(tessaro::testing::kScanner)).type, "UNKNOWN");
  EXPECT_TRUE(scannerIds.empty());
  EXPECT_EQ(Stored("1909", "OF9")->ScanIndex, 0);
  EXPECT_EQ(ui.messages().back().text, text::kScannerRemoved);
}

}  // namespace
