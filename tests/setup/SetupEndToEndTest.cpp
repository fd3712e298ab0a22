// SPDX-License-Identifier: GPL-2.0-or-later
// Manage Device end to end: the real main window and setup window on Qt's off-screen platform,
// real busd and hubd in the test's network namespace, and a private cupsd whose queue prints
// through the real backend. A queue chosen in the wizard is held by its new monitor, and a job
// printed to it afterwards reaches the device on the server.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <thread>

#include "app/ui/MainForm.h"
#include "autoconnect/AutoConnectStore.h"
#include "platform/linux/BusIpcTransport.h"
#include "platform/linux/CupsQueueAdmin.h"
#include "platform/linux/CupsSpooler.h"
#include "platform/linux/FileNamedMutex.h"
#include "platform/linux/LinuxHostNetwork.h"
#include "platform/linux/SqliteRegistry.h"
#include "platform/linux/SystemClock.h"
#include "platform/qt/QtPlatform.h"
#include "setup/ui/DeviceSetupForm.h"
#include "tests/support/ClientWiring.h"
#include "tests/support/FakeFirewall.h"
#include "tests/support/Lab.h"
#include "tests/support/OperationFakes.h"
#include "tests/support/PrivateCups.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/Watchdog.h"

namespace tessaro {
namespace {

using testing::Lab;

constexpr const char* kHubIp = "127.0.0.2";
constexpr const char* kHubMac = "00:1C:F0:AA:0B:01";
constexpr const char* kUri = "tessaro://00-1C-F0-AA-0B-01/04F9/0042?serial=LW2040-00731";

// Made before any widget, never destroyed: at exit Qt's own globals may already be gone.
struct WithApp {
  WithApp() {
    static int argc = 1;
    static char name[] = "test_setup_end_to_end";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (QApplication::instance() == nullptr) new QApplication(argc, argv);
  }
};

class QtPump : public EventPump {
 public:
  void ProcessPendingEvents() override { QCoreApplication::processEvents(); }
};

template <typename F>
bool PumpUntil(F condition, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

class SetupEndToEnd : public WithApp, public ::testing::Test {
 protected:
  void SetUp() override {
    ::mkdir(output_.c_str(), 0755);
    std::string devices = testing::PrinterAndStorage();
    devices.insert(devices.find("serial = LW2040-00731\n"), "output-folder = " + output_ + "\n");
    lab_.StartHub({kHubIp, "OFFICE-HUB", kHubMac, devices, {}});
    pc_ = &lab_.StartPc("PC-A", {kHubIp});
    ::setenv("TESSARO_COMPUTERNAME", "PC-A", 1);
    ::setenv("TESSARO_LOCK_DIR", (lab_.dir() / "locks").c_str(), 1);
    ServerInfoReg server{"OFFICE-HUB", kHubIp, kHubMac, 1, "", "", ""};
    ASSERT_TRUE(WriteServerEntry(registry_, AppRegistryKey, server));
    ASSERT_TRUE(cups_.Running());
    ASSERT_TRUE(cups_.InstallBackend("tessaro", Lab::Binary("cups-backend/tessaro")));
    ASSERT_TRUE(cups_.AddQueue("office", kUri));
  }

  std::unique_ptr<TMainFm> OpenWindow() {
    runtime_ = std::make_unique<ClientRuntime>(
        testing::TestClientPlatform({registry_, bus_, clock_, firewall_, network_, ui_, &pump_,
                                     mainThread_, spooler_, shell_}));
    auto form = std::make_unique<TMainFm>(*runtime_);
    StartupInputs inputs;
    inputs.workArea = {0, 0, 1024, 768};
    EXPECT_EQ(form->RunCreationSteps(inputs), CreateResult::Ready);
    form->ShowAfterCreation();
    setupForm_ = new TDeviceSetupFm(form.get());  // the main window owns it
    runtime_->UseSetupWindow(*setupForm_, queues_);
    return form;
  }

  std::optional<size_t> PrinterRow(TMainFm& form) {
    for (size_t i = 0; i < form.Rows().rowCount(); ++i)
      if (form.Rows().row(i).type == "PRINTER") return i;
    return std::nullopt;
  }

  void Click(const char* name) {
    auto* button = setupForm_->findChild<QAbstractButton*>(QString::fromLatin1(name));
    ASSERT_NE(button, nullptr) << name;
    button->click();
  }

  void PressQueue(const char* queue) {
    auto* view = setupForm_->findChild<QTreeWidget*>(QStringLiteral("PrinterListView"));
    ASSERT_NE(view, nullptr);
    const auto found = view->findItems(QString::fromLatin1(queue), Qt::MatchExactly, 0);
    ASSERT_EQ(found.size(), 1);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->visualItemRect(found[0]).center());
  }

  std::string Printed(int job) {
    return testing::ReadTextFile(output_ + "/job-" + std::to_string(job) + "-PC-A.prn");
  }

  testing::Watchdog watchdog_{std::chrono::seconds(90)};
  Lab lab_;
  Lab::Pc* pc_ = nullptr;
  const std::string output_ = lab_.dir() / "prints";
  // The backend finds PC-A's busd through the variable cupsd passes it.
  testing::PrivateCups cups_{"JobRetryInterval 1\n",
                             "SetEnv TESSARO_RUNTIME_DIR " + (lab_.dir() / "pc-PC-A") + "\n"};
  SqliteRegistry registry_{HivePaths{lab_.dir() / "user.hive", lab_.dir() / "machine.hive"}};
  BusIpcTransport bus_{lab_.dir() / "pc-PC-A"};
  SystemClock clock_;
  testing::AbsentFirewall firewall_;
  LinuxHostNetwork network_;
  testing::ScriptedUi ui_;
  QtPump pump_;
  QtMainThread mainThread_;
  CupsSpooler spooler_{cups_.socket()};
  CupsQueueAdmin queues_{cups_.socket()};
  testing::RecordingShell shell_;
  std::unique_ptr<ClientRuntime> runtime_;
  TDeviceSetupFm* setupForm_ = nullptr;
};

TEST_F(SetupEndToEnd, ChosenQueuePrintsToTheDeviceOnTheServer) {
  auto form = OpenWindow();
  ASSERT_TRUE(PumpUntil([&] { return PrinterRow(*form).has_value(); }));
  QTimer::singleShot(0, setupForm_, [&] {
    Click("NextBtn");  // install page, "No": the device is linked and locked for the run
    Click("NextBtn");  // connect page
    PressQueue("office");
    Click("NextBtn");  // auto-print page, OK
    if (setupForm_->isVisible()) setupForm_->reject();
  });
  ASSERT_TRUE(runtime_->RunDeviceCommand(DeviceCommand::PrintManageDevice, *PrinterRow(*form)));

  AutoConnectInfo entry;
  entry.ServerIP = kHubIp;
  entry.ServerMAC = kHubMac;
  entry.DeviceVid = "04F9";
  entry.DevicePid = "0042";
  entry.DeviceSNo = "LW2040-00731";
  ASSERT_TRUE(ReadDeviceEntry(registry_, AppRegistryKey, entry)) << ui_.messages().size();
  EXPECT_EQ(entry.PrinterName, "office");
  EXPECT_EQ(entry.PrinterEnable, 1);
  ASSERT_EQ(runtime_->State().autoPrinters.size(), 1u);
  // The new monitor holds the queue until a job comes.
  ASSERT_TRUE(PumpUntil([&] {
    return cups_.QueueStatus("office").find("Held:") != std::string::npos;
  })) << cups_.QueueStatus("office");

  const std::string job = "a job after the setup\n";
  ASSERT_GT(cups_.Submit("office", job), 0);
  EXPECT_TRUE(PumpUntil([&] { return Printed(1) == job; }, std::chrono::seconds(40)))
      << cups_.QueueStatus("office");
}

}  // namespace
}  // namespace tessaro
