// SPDX-License-Identifier: GPL-2.0-or-later
// tessaro-utility: one copy per session, "-mini" for the autostart, then the main window.
#include <fcntl.h>
#include <unistd.h>
#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QSocketNotifier>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/ClientRuntime.h"
#include "app/ui/ClientApplication.h"
#include "app/ui/MainForm.h"
#include "app/ui/ScanNowPaths.h"
#include "app/ui/SingleInstance.h"
#include "base/CommandLineInfo.h"
#include "devices/ui/EjectDeviceDialog.h"
#include "platform/RegistryText.h"
#include "platform/linux/BusIpcTransport.h"
#include "platform/linux/CupsQueueAdmin.h"
#include "platform/linux/CupsSpooler.h"
#include "platform/linux/FileNamedMutex.h"
#include "platform/linux/FirewalldFirewall.h"
#include "platform/linux/LinuxHostNetwork.h"
#include "platform/linux/SqliteRegistry.h"
#include "autoconnect/EnabledServers.h"
#include "platform/linux/SystemClock.h"
#include "platform/linux/TrunkDiagnosis.h"
#include "platform/qt/QtPlatform.h"
#include "platform/qt/QtShell.h"
#include "platform/qt/QtText.h"
#include "platform/qt/QtUiPort.h"
#include "scanning/ui/SaveFileForm.h"
#include "setup/ui/DeviceSetupForm.h"

namespace {

constexpr const char* kUsage =
    "usage: tessaro-utility [-mini]\n"
    "  -mini  the start at log-in: only the tray icon, unless the user turned the start off\n";

using namespace tessaro;

std::vector<std::string> ArgumentsOf(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

WorkArea DesktopWorkArea() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return {0, 0, kDesignWidth, kDesignHeight};
  const QRect area = screen->availableGeometry();
  return {area.left(), area.top(), area.left() + area.width(), area.top() + area.height()};
}

// The forms made once and reused, after the main form and in this order. The scan paths make
// their own windows on the first Scan Now.
struct Forms {
  explicit Forms(QWidget* main) : deviceSetup(main), saveFile(main), ejectDevice(main) {}
  TDeviceSetupFm deviceSetup;
  TSaveFileFm saveFile;
  TEjectDeviceDlg ejectDevice;
};

// The session's end reaches a Linux program as SIGTERM (or SIGHUP when its terminal goes): the
// close sequence runs as for Exit, with SessionEnding set. The handler only writes to a pipe.
int g_signalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

void WatchTerminationSignals(TMainFm& form) {
  if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &form);
  QObject::connect(notifier, &QSocketNotifier::activated, &form, [&form] {
    char drain[16];
    while (::read(g_signalPipe[0], drain, sizeof drain) > 0) {}
    form.EndSession();
  });
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGHUP, &action, nullptr);
}

// The print monitors' actions as trace lines: tests wait for what a monitor did.
class TracedMonitorActions : public tessaro::MonitorActionSink {
 public:
  void Report(const tessaro::MonitorAction& action) override {
    tessaro::TraceLine("monitor " + action.queue + " " + action.action);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (tessaro::AnswerHelpOrVersion(argc, argv, "tessaro-utility", kUsage)) return 0;
  const auto started = std::chrono::steady_clock::now();
  const std::vector<std::string> arguments = ArgumentsOf(argc, argv);

  SingleInstance instance(kApplicationTitle);
  if (!instance.Claim()) {
    instance.AskRunningCopyToShow();
    return 0;
  }
  if (!instance.Usable()) {
    std::fprintf(stderr, "tessaro-utility: no lock folder; a second copy cannot be refused\n");
  }

  SqliteRegistry registry;
  // The scanners of the servers the user enabled, found by SANE without a net.conf.
  ExportSaneNetHosts(EnabledServerIps(registry, AppRegistryKey));
  if (HasMiniSwitch(arguments)) {
    std::string autoRun;
    RegReadText(registry, RegRoot::CurrentUser, AppRegistryKey, "AutoRun Check", autoRun);
    if (autoRun == "0") return 0;
  }

  ClientApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
  QApplication::setQuitOnLastWindowClosed(false);  // the tray keeps the program alive

  BusIpcTransport bus(BusRuntimeDirFromEnvironment());
  SystemClock clock;
  FirewalldFirewall firewall;
  LinuxHostNetwork network;
  QtUiPort ui;
  app.SetUiPort(&ui);
  QtEventPump pump;
  MainFormServices services{registry,
                            bus,
                            clock,
                            firewall,
                            network,
                            ui,
                            &pump,
                            [](const std::string& name) -> std::unique_ptr<NamedMutex> {
                              return std::make_unique<FileNamedMutex>(name);
                            }};
  const std::string runtimeDir = BusRuntimeDirFromEnvironment();
  services.diagnoseTrunk = [runtimeDir] { return DiagnoseTrunk(runtimeDir); };
  services.userName = CurrentUserName();

  QtMainThread mainThread;
  CupsSpooler spooler;
  CupsQueueAdmin queueAdmin;
  QtShell shell;
  TracedMonitorActions monitorTrace;  // before the runtime: its monitors report until they end
  ClientRuntime runtime({services, mainThread, spooler, shell});
  runtime.ReportMonitorActionsTo(&monitorTrace);
  TMainFm mainForm(runtime);
  ui.SetMainWindow(&mainForm);
  StartupInputs inputs;
  inputs.programPath = ToStdString(QCoreApplication::applicationFilePath());
  inputs.arguments = arguments;
  inputs.workArea = DesktopWorkArea();
  if (mainForm.RunCreationSteps(inputs) != CreateResult::Ready) return 0;
  const auto trayMs = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started);
  TraceLine("start-up to tray icon " + std::to_string(trayMs.count()) + " ms");

  WatchTerminationSignals(mainForm);
  Forms forms(&mainForm);
  runtime.UseSetupWindow(forms.deviceSetup, queueAdmin);
  DriverClient scanDriver(bus, clock);
  ScanNowPaths scanPaths(ui, mainThread, scanDriver, runtime.State().computerName, &mainForm);
  mainForm.SetScanPaths(&scanPaths);
  ui.RegisterDialog("TEjectDeviceDlg", [&forms](const DialogRequest& request) {
    return forms.ejectDevice.Run(ToQString(request.text));
  });
  instance.Listen([&mainForm] { mainForm.TrayMessage(kTrayShowRequest); });
  mainForm.ShowAfterCreation();
  return QApplication::exec();
}
