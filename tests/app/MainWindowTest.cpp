// SPDX-License-Identifier: GPL-2.0-or-later
// The real main window on Qt's off-screen platform, over real busd and hubd processes in the
// test's network namespace: rows appear and change by the driver's events, the list paints them,
// the tray menu lists each server once, Exit chosen while a wait processes events, the window's
// state, and an exception escaping an event handler.
#include <gtest/gtest.h>

#include <QImage>
#include <QMenu>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "app/ui/ClientApplication.h"
#include "app/ui/MainForm.h"
#include "autoconnect/AutoConnectStore.h"
#include "devices/RefreshLock.h"
#include "devices/ui/DeviceListView.h"
#include "notices/ui/AboutBox.h"
#include "platform/RegistryText.h"
#include "platform/Spooler.h"
#include "platform/linux/BusIpcTransport.h"
#include "platform/linux/FileNamedMutex.h"
#include "platform/linux/LinuxHostNetwork.h"
#include "platform/linux/SqliteRegistry.h"
#include "platform/linux/SystemClock.h"
#include "platform/qt/QtPlatform.h"
#include "tests/support/ClientWiring.h"
#include "tests/support/FakeFirewall.h"
#include "tests/support/Lab.h"
#include "tests/support/OperationFakes.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/Watchdog.h"

namespace tessaro {
namespace {

using testing::Lab;

ClientApplication& App() {
  static int argc = 1;
  static char name[] = "test_main_window";
  static char* argv[] = {name, nullptr};
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // Never destroyed: at exit Qt's own globals may already be gone.
  static auto* app = new ClientApplication(argc, argv);
  return *app;
}

// Qt's pump, through which a case may act as the user inside the next wait that processes
// events: `whileWaiting` runs there, once.
class UserDuringWaits : public EventPump {
 public:
  std::function<void()> whileWaiting;
  void ProcessPendingEvents() override {
    if (auto act = std::exchange(whileWaiting, nullptr)) act();
    QCoreApplication::processEvents();
  }
};

// Pumps the event loop until `condition` holds.
template <typename F>
bool PumpUntil(F condition, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() {
    App();
    lab_.StartHub(
        {"127.0.0.2", "OFFICE-HUB", "00:1C:F0:AA:0B:01", testing::PrinterAndStorage(), {}});
    lab_.StartHub({"127.0.0.3", "STUDIO-HUB", "00:1C:F0:AA:0B:02", testing::MfpAndScanner(), {}});
    pc_ = &lab_.StartPc("PC-A", {"127.0.0.2", "127.0.0.3"});
    ::setenv("TESSARO_COMPUTERNAME", "PC-A", 1);
    ::setenv("TESSARO_LOCK_DIR", (lab_.dir() / "locks").c_str(), 1);
    for (const auto& [name, ip, mac] :
         {std::tuple{"OFFICE-HUB", "127.0.0.2", "00:1C:F0:AA:0B:01"},
          std::tuple{"STUDIO-HUB", "127.0.0.3", "00:1C:F0:AA:0B:02"}}) {
      ServerInfoReg entry{name, ip, mac, 1, "", "", ""};
      WriteServerEntry(registry_, AppRegistryKey, entry);
    }
  }

  std::unique_ptr<TMainFm> OpenWindow(std::vector<std::string> arguments = {}) {
    runtime_ = std::make_unique<ClientRuntime>(
        testing::TestClientPlatform({registry_, bus_, clock_, firewall_, network_, ui_, &pump_,
                                     mainThread_, spooler_, shell_}));
    auto form = std::make_unique<TMainFm>(*runtime_);
    StartupInputs inputs;
    inputs.arguments = std::move(arguments);
    inputs.workArea = {0, 0, 1024, 768};
    EXPECT_EQ(form->RunCreationSteps(inputs), CreateResult::Ready);
    form->ShowAfterCreation();
    return form;
  }

  static std::string StateOf(TMainFm& form, const std::string& displayName) {
    for (size_t i = 0; i < form.Rows().rowCount(); ++i) {
      if (form.Rows().row(i).displayName == displayName) return form.Rows().row(i).stateText;
    }
    return "(no row)";
  }

  static QImage Grab(TMainFm& form) {
    form.ListView()->doItemsLayout();
    QCoreApplication::processEvents();
    return form.ListView()->viewport()->grab().toImage();
  }

  // Whether some pixel of the row's state-text band is close to `colour`.
  static bool StateBandHas(const QImage& image, int row, QColor colour) {
    for (int y = row * kRowHeight + 28; y < (row + 1) * kRowHeight - 1; ++y) {
      for (int x = 68; x < image.width(); ++x) {
        const QColor c = image.pixelColor(x, y);
        if (std::abs(c.red() - colour.red()) < 40 && std::abs(c.green() - colour.green()) < 40 &&
            std::abs(c.blue() - colour.blue()) < 40) {
          return true;
        }
      }
    }
    return false;
  }

  Lab lab_;
  Lab::Pc* pc_ = nullptr;
  SqliteRegistry registry_{HivePaths{lab_.dir() / "user.hive", lab_.dir() / "machine.hive"}};
  BusIpcTransport bus_{lab_.dir() / "pc-PC-A"};
  SystemClock clock_;
  testing::AbsentFirewall firewall_;
  LinuxHostNetwork network_;
  testing::ScriptedUi ui_;
  UserDuringWaits pump_;
  QtMainThread mainThread_;
  UnboundSpooler spooler_;
  testing::RecordingShell shell_;
  std::unique_ptr<ClientRuntime> runtime_;                // outlives the window each case opens
  testing::Watchdog watchdog_{std::chrono::seconds(90)};  // a hang fails the case
};

TEST_F(MainWindowTest, RowsAppearChangeByEventsAndAreDrawn) {
  auto form = OpenWindow();
  ASSERT_TRUE(PumpUntil([&] { return form->Rows().rowCount() == 4; }));
  // Storage (reported in lower case) before MFP before printer; the camera, unknown, last.
  EXPECT_EQ(form->Rows().row(0).vendorId, "2E10");
  EXPECT_EQ(form->Rows().row(3).type, "UNKNOWN");
  EXPECT_TRUE(form->NotePanel()->isHidden());

  QImage image = Grab(*form);
  EXPECT_EQ(image.pixelColor(100, kRowHeight - 1), QColor(192, 192, 192));  // the line under a row
  EXPECT_TRUE(StateBandHas(image, 0, QColor(0, 0, 255)));

  // Another PC takes the printer: the row follows by events alone (no timer is running by now).
  Lab::Pc& other = lab_.StartPc("PC-B", {"127.0.0.2"});
  ASSERT_TRUE(lab_.WaitForServerState(other, "127.0.0.2", "1"));
  ASSERT_TRUE(lab_.AttachAll(other, {"127.0.0.2"}));
  const std::string printer = form->Rows().row(2).displayName;
  ASSERT_EQ(lab_.Cli(other, {"link", "127.0.0.2", "1"}).exitCode, 0);
  ASSERT_EQ(lab_.Cli(other, {"lock", "127.0.0.2", "1", "2", "3600"}).exitCode, 0);
  ASSERT_TRUE(PumpUntil([&] { return StateOf(*form, printer) == " - Use By (PC-B)"; }))
      << StateOf(*form, printer);
  image = Grab(*form);
  EXPECT_TRUE(StateBandHas(image, 2, QColor(255, 0, 0)));

  // The storage device goes from its server: its row goes, and the other rows stay.
  lab_.EditHubDevices("127.0.0.2", R"([device 1]
type = PRINTER
vendor-id = 04F9
product-id = 0042
manufacturer = Lumen
product = Laser 2040
serial = LW2040-00731
)");
  ASSERT_TRUE(PumpUntil([&] { return form->Rows().rowCount() == 3; }));
  EXPECT_EQ(form->Rows().row(0).type, "MFP");
}

// busd dies and is started again: the rows go while it is away, and the window's trunk-watch
// timer reopens the Trunk, so both servers are attached again and their rows come back.
TEST_F(MainWindowTest, RowsComeBackAfterBusdRestarts) {
  auto form = OpenWindow();
  ASSERT_TRUE(PumpUntil([&] { return form->Rows().rowCount() == 4; }));
  lab_.StopBusd(*pc_);
  ASSERT_TRUE(PumpUntil([&] { return form->Rows().rowCount() == 0; }));
  EXPECT_TRUE(form->Rows().servers().empty());
  lab_.StartBusd(*pc_);
  ASSERT_TRUE(PumpUntil([&] { return form->Rows().rowCount() == 4; }, std::chrono::seconds(30)))
      << form->Rows().rowCount() << " rows";
  EXPECT_EQ(form->Rows().servers().size(), 2u);
}

TEST_F(MainWindowTest, TrayMenuListsEachServerOnceAfterTwoOpenings) {
  auto form = OpenWindow();
  ASSERT_TRUE(PumpUntil([&] { return form->Rows().rowCount() == 4; }))
      << form->Rows().servers().size() << " servers " << lab_.Cli(*pc_, {"servers"}).out
      << pc_->busd->Output();
  QMenu* menu = form->PopupMenu();
  for (int opening = 0; opening < 2; ++opening) {
    emit menu->aboutToShow();
    QCoreApplication::processEvents();
  }
  std::vector<std::string> captions;
  for (QAction* action : menu->actions()) captions.push_back(action->text().toStdString());
  const std::vector<std::string> expected = {
      "OFFICE-HUB - 127.0.0.2", "STUDIO-HUB - 127.0.0.3", "", "Advanced Options",
      "Open Tessaro Utility",   "About Tessaro Utility",  "", "Exit"};
  EXPECT_EQ(captions, expected);
  QMenu* server = menu->actions()[0]->menu();
  ASSERT_NE(server, nullptr);
  std::vector<std::string> items;
  for (QAction* action : server->actions()) {
    items.push_back(action->text().toStdString() + (action->isChecked() ? "*" : ""));
  }
  EXPECT_EQ(items, (std::vector<std::string>{"Enable*", "Disable", "", "Configuration..."}));
}

// The device menu's Connect and Disconnect on the real window: the row changes by the driver's
// events alone (the trunk-update timer has long stopped), and the tray's Configuration... opens
// the server's page.
TEST_F(MainWindowTest, ConnectAndDisconnectFromTheDeviceMenuShowInTheRowByEvents) {
  auto form = OpenWindow();
  ASSERT_TRUE(PumpUntil([&] { return form->Rows().rowCount() == 4; }));
  // The trunk-update timer's refresh is over too.
  ASSERT_TRUE(PumpUntil([&] { return !form->TrunkUpdatePending(); }));
  const std::string printer = "Lumen - Laser 2040";
  ASSERT_EQ(StateOf(*form, printer), " - Waiting to Connect");

  const auto choose = [&](const char* itemName) {
    for (size_t i = 0; i < form->Rows().rowCount(); ++i) {
      if (form->Rows().row(i).displayName != printer) continue;
      form->ListView()->setCurrentIndex(form->ListView()->model()->index(static_cast<int>(i), 0));
      form->ListView()->PopupDeviceMenu(QPoint(10, 10));
      for (QAction* action : form->ListView()->deviceMenu()->actions()) {
        if (action->objectName() == itemName) {
          form->ListView()->deviceMenu()->close();
          action->trigger();
          return true;
        }
      }
    }
    return false;
  };
  ASSERT_TRUE(choose("ConnectMItem"));
  ASSERT_TRUE(PumpUntil([&] { return StateOf(*form, printer) == " - Use By (PC-A)"; }))
      << StateOf(*form, printer);
  QImage image = Grab(*form);
  EXPECT_TRUE(StateBandHas(image, 2, QColor(0, 126, 0)));

  ASSERT_TRUE(choose("DisconnectMItem"));
  ASSERT_TRUE(PumpUntil([&] { return StateOf(*form, printer) == " - Waiting to Connect"; }))
      << StateOf(*form, printer);
  EXPECT_TRUE(ui_.messages().empty());

  emit form->PopupMenu()->aboutToShow();
  QMenu* server = form->PopupMenu()->actions()[0]->menu();
  ASSERT_NE(server, nullptr);
  server->actions().back()->trigger();  // Configuration...
  EXPECT_EQ(shell_.opened, std::vector<std::string>{"http://127.0.0.2/"});
}

// The refresh lock as another process holds it: every wait for it processes events meanwhile.
class LockHeldElsewhere {
 public:
  LockHeldElsewhere() { EXPECT_TRUE(lock_.TryLock()); }
  ~LockHeldElsewhere() { lock_.Unlock(); }

 private:
  FileNamedMutex lock_{kRefreshLockMutexName};
};

// Exit chosen while a refresh waits for that lock: in the handling of a server-list event (the
// reader is still handing that record over) or in the first refresh after the window shows. The
// wait ends, the close follows once the refresh has returned, and the tray icon stays removed.
struct NestedCloseCase {
  const char* what;
  bool inServerListEvent;
};

void PrintTo(const NestedCloseCase& c, std::ostream* os) { *os << c.what; }

class NestedCloseTest : public MainWindowTest,
                        public ::testing::WithParamInterface<NestedCloseCase> {};

TEST_P(NestedCloseTest, EndsAfterTheWaitAndKeepsTheTrayIconRemoved) {
  std::unique_ptr<TMainFm> form;
  std::optional<LockHeldElsewhere> held;
  if (GetParam().inServerListEvent) {
    form = OpenWindow();
    ASSERT_TRUE(PumpUntil([&] { return form->Rows().rowCount() == 4; }));
    // The trunk-update timer's refresh is over too.
  ASSERT_TRUE(PumpUntil([&] { return !form->TrunkUpdatePending(); }));
    held.emplace();
  } else {
    held.emplace();
    form = OpenWindow();
  }
  bool exitChosen = false;
  pump_.whileWaiting = [&] {
    exitChosen = true;
    QTimer::singleShot(0, form.get(), [&form] { form->ExitMItemClick(); });
  };
  if (GetParam().inServerListEvent) lab_.StopHub("127.0.0.3");
  ASSERT_TRUE(PumpUntil([&] { return form->Runtime().Closed(); }, std::chrono::seconds(20)));
  EXPECT_TRUE(exitChosen);
  EXPECT_FALSE(form->Tray()->isVisible());
  EXPECT_TRUE(form->isHidden());
}

INSTANTIATE_TEST_SUITE_P(Waits, NestedCloseTest,
                         ::testing::Values(NestedCloseCase{"server list event", true},
                                           NestedCloseCase{"first refresh", false}),
                         [](const auto& c) {
                           return std::string(c.param.inServerListEvent ? "ServerListEvent"
                                                                        : "FirstRefresh");
                         });

// Every opening of the tray menu replaces its server entries; the old ones do not pile up.
// The visible notice windows whose text starts with `prefix`.
std::vector<TAboutBox*> Notices(const QString& prefix) {
  std::vector<TAboutBox*> found;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* notice = dynamic_cast<TAboutBox*>(widget);
    if (notice != nullptr && notice->isVisible() && notice->Text().startsWith(prefix)) {
      found.push_back(notice);
    }
  }
  return found;
}

TEST_F(MainWindowTest, FoundDevicesAndTheTrayMenusAboutShowNotices) {
  auto form = OpenWindow();
  // Both hubs list two devices each: one stacked notice per device.
  ASSERT_TRUE(PumpUntil([] { return Notices("Found\n\n").size() == 4; }));
  std::vector<int> tops;
  for (TAboutBox* notice : Notices("Found\n\n")) tops.push_back(notice->RestingTop());
  std::sort(tops.begin(), tops.end());
  EXPECT_EQ(tops, (std::vector<int>{766 - 100 - 303, 766 - 100 - 202, 766 - 100 - 101, 766 - 100}));

  QAction* about = nullptr;
  for (QAction* action : form->PopupMenu()->actions()) {
    if (action->text() == "About Tessaro Utility") about = action;
  }
  ASSERT_NE(about, nullptr);
  about->trigger();
  ASSERT_TRUE(PumpUntil([] { return Notices("Version : ").size() == 1; }));
  EXPECT_EQ(Notices("Version : ")[0]->Slot(), -1);
}

TEST_F(MainWindowTest, TrayMenuOpeningsLeaveOneSubmenuPerServer) {
  auto form = OpenWindow();
  ASSERT_TRUE(PumpUntil([&] { return form->Rows().servers().size() == 2; }));
  QMenu* menu = form->PopupMenu();
  for (int opening = 0; opening < 5; ++opening) {
    emit menu->aboutToShow();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  EXPECT_EQ(menu->findChildren<QMenu*>(Qt::FindDirectChildrenOnly).size(), 2);
}

// Showing from the tray, or for a later copy, keeps a maximised window maximised, also after it
// was minimised; a normal window comes back normal.
TEST_F(MainWindowTest, ShowingFromTheTrayKeepsTheWindowsState) {
  auto form = OpenWindow();
  struct Case {
    const char* what;
    bool maximised;
    bool minimiseFirst;  // else the close box hid it
    int message;
  } cases[] = {
      {"maximised, hidden, tray click", true, false, kTrayLeftButtonDown},
      {"maximised, hidden, later copy", true, false, kTrayShowRequest},
      {"maximised, minimised, tray click", true, true, kTrayLeftButtonDown},
      {"normal, minimised, later copy", false, true, kTrayShowRequest},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.maximised) {
      form->showMaximized();
    } else {
      form->showNormal();
    }
    if (c.minimiseFirst) {
      form->showMinimized();
    } else {
      form->close();
    }
    QCoreApplication::processEvents();
    form->TrayMessage(c.message);
    QCoreApplication::processEvents();
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->isMinimized());
    EXPECT_EQ(form->isMaximized(), c.maximised);
  }
}

// The stored "MainForm WindowState" at start: minimised (1) or maximised (2) as stored, except
// that a mini start parks the window in its normal state.
TEST_F(MainWindowTest, StoredWindowStateAppliesAtStartUnlessParked) {
  struct Case {
    const char* stored;
    std::vector<std::string> arguments;
    bool minimised;
    bool maximised;
  } cases[] = {
      {"1", {}, true, false},
      {"2", {}, false, true},
      {"1", {"-mini"}, false, false},
      {"0", {}, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.stored) + (c.arguments.empty() ? "" : " -mini"));
    RegWriteText(registry_, RegRoot::CurrentUser, AppRegistryKey, "MainForm WindowState", false,
                 true, c.stored);
    auto form = OpenWindow(c.arguments);
    QCoreApplication::processEvents();
    EXPECT_EQ(form->isMinimized(), c.minimised);
    EXPECT_EQ(form->isMaximized(), c.maximised);
  }
}

// An exception that escapes an event handler is shown, with the product's name as caption, and
// the events after it are still handled.
TEST(ClientApplication, ShowsAnEscapingExceptionAndGoesOn) {
  ClientApplication& app = App();
  testing::ScriptedUi ui;
  app.SetUiPort(&ui);
  bool laterEventHandled = false;
  QTimer::singleShot(0, &app, [] { throw std::runtime_error("The device list went away"); });
  QTimer::singleShot(0, &app, [&] { laterEventHandled = true; });
  EXPECT_TRUE(PumpUntil([&] { return !ui.messages().empty() && laterEventHandled; }));
  app.SetUiPort(nullptr);
  ASSERT_EQ(ui.messages().size(), 1u);
  EXPECT_EQ(ui.messages()[0].caption, "Tessaro Utility");
  EXPECT_EQ(ui.messages()[0].text, "The device list went away");
}

}  // namespace
}  // namespace tessaro
