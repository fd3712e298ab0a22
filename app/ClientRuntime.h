// SPDX-License-Identifier: GPL-2.0-or-later
// The running tray client without any window. It holds the program-wide state once, runs the
// creation steps, and owns what runs afterwards: the driver client, the refresh cycle, the driver
// event dispatch, the device commands, the event reader, the print monitors and plug and play. The
// main window shows what it decides and forwards the user's commands, its timers and the close to
// it.
//
// Everything here runs on the main thread. Many entries wait while processing events (the
// refresh lock, a server's attach, a message box or dialog), so the user may choose Exit inside
// one of them. Such a close ends the waits at once, but the teardown runs only once the outermost
// entry has returned: whatever a waiting frame uses (the lock it holds, the Trunk, the reader
// that is handing it a record) outlives that frame.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/ClientWindow.h"
#include "app/MainFormCore.h"
#include "autoconnect/PrinterMakers.h"
#include "devices/DeviceListModel.h"
#include "devices/DeviceMenu.h"
#include "devices/DeviceOperations.h"
#include "devices/DriverEvents.h"
#include "devices/RefreshCycle.h"
#include "driver/DriverClient.h"
#include "driver/PlugAndPlay.h"
#include "driver/ReadThread.h"
#include "driver/TrunkWatch.h"
#include "platform/MainThread.h"
#include "platform/Shell.h"
#include "platform/Spooler.h"
#include "printing/ClientMonitorHost.h"
#include "printing/PrintMonitors.h"
#include "records/ClientState.h"
#include "setup/DeviceSetup.h"
#include "scanning/wia/ScanNow.h"

namespace tessaro {

// The outside services of the running program; they must outlive the runtime. `services` needs
// its event pump and its named-mutex maker.
struct ClientPlatform {
  MainFormServices services;
  MainThread& mainThread;
  Spooler& spooler;
  Shell& shell;
};

enum class CloseReason { Exit, SessionEnd };

enum class CloseResult {
  Closed,    // everything released; the window has heard Closed()
  Deferred,  // chosen inside a wait: released once the outer frames have returned
  Kept,      // the user kept a device that could not be stopped: the program goes on
  Ignored,   // a close is already under way
};

// A server entry of the tray menu.
struct ServerMenuEntry {
  std::string displayName;
  bool enabled = false;
};

class ClientRuntime {
 public:
  explicit ClientRuntime(ClientPlatform platform);
  // A runtime that was not closed still stops its reader, which may be waiting to hand over.
  ~ClientRuntime();
  ClientRuntime(const ClientRuntime&) = delete;
  ClientRuntime& operator=(const ClientRuntime&) = delete;

  // The window hears the creation steps and the running parts from now on. Detaching stops the
  // reader first: it may be about to hand the window a record.
  void AttachWindow(ClientWindow& window);
  void DetachWindow();

  // The creation steps, then (when Ready) the running parts start.
  CreateResult Start(const StartupInputs& inputs);

  // The close sequence: this PC's devices are released (the user may keep one, which cancels
  // the close), then, once no entry is waiting below, the reader and the print monitors stop
  // (the monitors park their queues unless the session ends), the servers, the lists and the
  // Trunk close, the tray icon goes, the sockets and the refresh lock are released and
  // the window placement is stored.
  CloseResult Close(CloseReason reason);
  bool Closing() const { return state_.flags.Closing; }
  bool Closed() const { return closed_; }

  // The window's timers. TrunkUpdateTick returns true when the timer should stop; the tick that
  // ran its delayed refresh also starts a print monitor for every auto-connect entry without one.
  bool TrunkUpdateTick();
  void ReleaseRequestTimer();
  // The window's periodic trunk-watch timer (kTrunkWatchInterval). When the reader's reads fail
  // and the Trunk does not answer either, the bus has gone away (busd restarted): the reader
  // stops, the servers go with their rows and the Trunk is closed. Later ticks reopen it once
  // its wait is over, waiting twice as long after each failure; once open, the reader starts on
  // it and the servers are refreshed, which attaches the enabled ones again.
  void TrunkWatchTick();
  bool TrunkLost() const { return trunkWatch_.Lost(); }

  // The device menu of a row, and its commands. RunDeviceCommand returns false for a command
  // this build does not have.
  std::vector<DeviceMenuItem> DeviceMenu(size_t row);
  bool RunDeviceCommand(DeviceCommand command, size_t row);
  // Manage Device and TroubleShooting run the setup wizard in `window`, which adds print queues
  // through `queues`; both must outlive the runtime. Until then, and before the running parts
  // have started, the two commands are not available.
  void UseSetupWindow(setup::SetupWindow& window, PrintQueueAdmin& queues);
  // A double click on a row: whether it runs Scan Now.
  bool QuickScanRuns(size_t row) const;
  // Scan Now on a row through the window's scan paths, with the list's busy cursor while the
  // device is being had; a second one while one runs is ignored.
  void RunScanNow(size_t row, ScanPaths& paths, std::function<void(bool busy)> busyCursor);

  // The tray menu's server entries, read under the refresh lock, and their commands
  // ("Enable", "Disable", "Configuration...").
  std::vector<ServerMenuEntry> ServerMenuEntries();
  void ServerCommand(const std::string& displayName, const std::string& item);

  // The print monitors; null until the running parts have started.
  PrintMonitors* Monitors() { return monitors_.get(); }
  // Where the print monitors report what they do (the trace); set before the running parts start.
  void ReportMonitorActionsTo(MonitorActionSink* sink) { monitorActions_ = sink; }

  // The printer maker table beside the program, read again each time the window shows.
  void ReloadPrinterMakers(const std::string& folder);

  ClientState& State() { return state_; }
  const ClientState& State() const { return state_; }
  DeviceListModel& Rows() { return model_; }
  MainFormCore& Core() { return core_; }
  const MainFormCore& Core() const { return core_; }
  Shell& DesktopShell() { return platform_.shell; }

 private:
  // One entry from the window or the reader, counted while it runs.
  class Frame {
   public:
    explicit Frame(ClientRuntime& runtime) : runtime_(runtime) { ++runtime_.depth_; }
    ~Frame() { runtime_.LeaveFrame(); }
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

   private:
    ClientRuntime& runtime_;
  };

  // The main thread as the print monitors reach it: each hand-over counts as an entry, so a close
  // chosen inside one (the unsuitable-port box) waits until it has returned.
  class MonitorMainThread : public MainThread {
   public:
    explicit MonitorMainThread(ClientRuntime& runtime) : runtime_(runtime) {}
    void RunSync(std::function<void()> work) override;
    void Post(std::function<void()> work) override;
    bool IsMainThread() const override;

   private:
    ClientRuntime& runtime_;
  };

  void StartRunningParts();
  void StartReader();
  void StartPrintMonitors();
  void StopPrintMonitors();
  void LoseTrunk();
  void RegainTrunk();
  bool ReleaseOwnedDevices();
  void LeaveFrame();
  void RunPendingTeardown();
  void TearDown();
  void StopReader();
  EventPump& Pump() const { return *platform_.services.pump; }

  ClientPlatform platform_;
  ClientState state_;
  WindowRelay window_;
  MainFormCore core_;
  DeviceListModel model_{window_};
  DriverClient driver_;
  PlugAndPlay plugAndPlay_;
  PrinterMakerTable printerMakers_;
  // The running parts, made by Start in this order and released by the close in reverse.
  std::unique_ptr<RefreshCycle> refresh_;
  std::unique_ptr<DriverEventDispatcher> dispatcher_;
  std::unique_ptr<DeviceOperations> operations_;
  std::unique_ptr<TReadThread> reader_;
  MonitorMainThread monitorMainThread_{*this};
  std::unique_ptr<ClientMonitorHost> monitorHost_;
  std::unique_ptr<PrintMonitors> monitors_;
  MonitorActionSink* monitorActions_ = nullptr;
  std::unique_ptr<setup::PumpSleeper> setupSleeper_;
  std::unique_ptr<setup::DeviceSetup> setup_;
  std::unique_ptr<ScanNow> scanNow_;
  std::function<void(bool)> busyCursor_;  // the list's, for the Scan Now that runs

  TrunkWatch trunkWatch_;

  int depth_ = 0;  // entries running, nested ones included
  bool teardownPending_ = false;
  bool closed_ = false;
  // Lets a queued teardown find out whether the runtime still exists.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace tessaro
