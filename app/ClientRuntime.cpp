// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/ClientRuntime.h"

#include <algorithm>

#include "devices/RefreshLock.h"
#include "host/HostChecks.h"
#include "setup/TwainSources.h"

namespace tessaro {

ClientRuntime::ClientRuntime(ClientPlatform platform)
    : platform_(std::move(platform)), core_(platform_.services, window_, state_),
      driver_(platform_.services.bus, platform_.services.clock),
      plugAndPlay_(platform_.services.bus, platform_.services.clock),
      trunkWatch_(driver_, platform_.services.bus, platform_.services.clock, state_.trunk,
                  {[this] { return reader_ && reader_->ReadsFailing(); }, [this] { LoseTrunk(); },
                   [this] { RegainTrunk(); }}) {}

ClientRuntime::~ClientRuntime() {
  StopReader();
  StopPrintMonitors();
}

void ClientRuntime::MonitorMainThread::RunSync(std::function<void()> work) {
  runtime_.platform_.mainThread.RunSync([&] {
    Frame frame(runtime_);
    work();
  });
}

void ClientRuntime::MonitorMainThread::Post(std::function<void()> work) {
  runtime_.platform_.mainThread.Post(std::move(work));
}

bool ClientRuntime::MonitorMainThread::IsMainThread() const {
  return runtime_.platform_.mainThread.IsMainThread();
}

void ClientRuntime::AttachWindow(ClientWindow& window) { window_.Attach(&window); }

void ClientRuntime::DetachWindow() {
  StopReader();
  window_.Attach(nullptr);
}

CreateResult ClientRuntime::Start(const StartupInputs& inputs) {
  const CreateResult result = core_.Create(inputs);
  if (result == CreateResult::Ready) StartRunningParts();
  return result;
}

void ClientRuntime::StartRunningParts() {
  if (core_.RefreshLock() == nullptr) return;  // no named mutexes: nothing can be refreshed
  const MainFormServices& services = platform_.services;
  NamedMutex& lock = *core_.RefreshLock();
  refresh_ = std::make_unique<RefreshCycle>(
      RefreshServices{services.bus, services.clock, Pump(), lock, services.registry, window_},
      state_, model_);
  dispatcher_ = std::make_unique<DriverEventDispatcher>(
      *refresh_, model_, state_, lock, window_, services.ui, services.clock,
      [this] { return core_.Host().NetworkReady(); });
  operations_ = std::make_unique<DeviceOperations>(
      DeviceOperationServices{services.bus, services.clock, Pump(), lock, services.registry,
                              services.registry, plugAndPlay_, services.ui, platform_.spooler,
                              platform_.shell},
      state_, model_, *refresh_);
  monitorHost_ = std::make_unique<ClientMonitorHost>(monitorMainThread_, model_, *refresh_, driver_,
                                                     services.bus, services.ui, state_.flags);
  monitors_ = std::make_unique<PrintMonitors>(
      PrintMonitorServices{platform_.spooler, *monitorHost_, services.clock, state_.computerName,
                           state_.windowsVersionFlags});
  monitors_->ReportActionsTo(monitorActions_);
  StartReader();
}

void ClientRuntime::StartPrintMonitors() {
  if (!monitors_) return;
  monitors_->StartPrintMonitors(state_.autoPrinters, MonitorList::Printer);
  monitors_->StartPrintMonitors(state_.autoFaxes, MonitorList::Fax);
}

// The printer list first, then the fax list. When the session ends the monitors leave their
// queues as they are, so they end at once.
void ClientRuntime::StopPrintMonitors() {
  if (!monitors_) return;
  monitors_->StopPrintMonitors(state_.autoPrinters, Pump());
  monitors_->StopPrintMonitors(state_.autoFaxes, Pump());
}

void ClientRuntime::StartReader() {
  if (state_.trunk == kInvalidBusHandle) return;
  reader_ = std::make_unique<TReadThread>(platform_.services.bus, state_.trunk,
                                          platform_.mainThread, platform_.services.clock,
                                          [this](std::span<const uint8_t> record, int64_t bytes) {
                                            Frame frame(*this);
                                            if (dispatcher_) dispatcher_->Dispatch(record, bytes);
                                          });
  reader_->Start();
}

CloseResult ClientRuntime::Close(CloseReason reason) {
  if (state_.flags.Closing || closed_) return CloseResult::Ignored;
  state_.flags.Closing = true;
  if (reason == CloseReason::SessionEnd) state_.flags.SessionEnding = true;
  if (!ReleaseOwnedDevices()) {
    // Nothing of the close stays behind: a SessionEnding left set would make the reader's stop
    // at a later close give up early.
    state_.flags.Closing = false;
    state_.flags.SessionEnding = false;
    return CloseResult::Kept;
  }
  teardownPending_ = true;
  if (depth_ > 0) return CloseResult::Deferred;
  TearDown();
  return CloseResult::Closed;
}

// The eject dialog processes events: an Exit chosen in it finds the close under way.
bool ClientRuntime::ReleaseOwnedDevices() {
  Frame frame(*this);
  return !operations_ || operations_->DisconnectAllOwned();
}

// The outermost frame may be the reader's hand-over, whose thread the teardown waits for: the
// teardown runs from the event loop after it, not from inside it.
void ClientRuntime::LeaveFrame() {
  if (--depth_ > 0 || !teardownPending_) return;
  platform_.mainThread.Post([this, alive = std::weak_ptr<bool>(alive_)] {
    if (alive.lock()) RunPendingTeardown();
  });
}

// A queued teardown that finds a frame running again leaves it to that frame's end.
void ClientRuntime::RunPendingTeardown() {
  if (teardownPending_ && depth_ == 0 && !closed_) TearDown();
}

void ClientRuntime::TearDown() {
  teardownPending_ = false;
  const bool withWindow = window_.window() != nullptr;
  const MainWindowPlacement placement = window_.PlacementAtClose();
  window_.StopTimers();
  StopReader();
  StopPrintMonitors();
  if (refresh_) refresh_->CloseServers();
  // They refer to the refresh lock, which goes below, and the monitors to the refresh.
  setup_.reset();
  monitors_.reset();
  monitorHost_.reset();
  operations_.reset();
  dispatcher_.reset();
  refresh_.reset();
  core_.CloseListsAndTrunk();
  window_.RemoveTrayIcon();
  core_.CloseSocketsAndLock();
  if (withWindow) SavePlacement(platform_.services.registry, placement);
  closed_ = true;
  window_.Closed();
}

void ClientRuntime::StopReader() {
  if (!reader_) return;
  reader_->Stop(driver_, Pump(), [this] { return state_.flags.SessionEnding; });
  reader_.reset();
}

bool ClientRuntime::TrunkUpdateTick() {
  if (!refresh_ || Closing()) return true;
  Frame frame(*this);
  if (!refresh_->TrunkUpdateTick()) return false;
  // The refresh processed events: a close chosen meanwhile starts no monitor.
  if (!Closing()) StartPrintMonitors();
  return true;
}

// A tick that comes while another entry waits is skipped: stopping the reader there could wait
// for a hand-over that frame is in, and the servers it works on would go from under it.
void ClientRuntime::TrunkWatchTick() {
  if (!refresh_ || Closing() || depth_ > 0) return;
  Frame frame(*this);
  trunkWatch_.Tick();
}

void ClientRuntime::LoseTrunk() {
  StopReader();
  refresh_->BusGone();
}

void ClientRuntime::RegainTrunk() {
  // The reader first, as at start-up: events the attaches cause are not missed.
  StartReader();
  refresh_->RefreshServers();
  window_.ShowNotePanel(model_.rowCount() == 0);
}

void ClientRuntime::ReleaseRequestTimer() {
  if (!dispatcher_) return;
  Frame frame(*this);
  dispatcher_->OnReleaseRequestTimer();
}

std::vector<DeviceMenuItem> ClientRuntime::DeviceMenu(size_t row) {
  if (row >= model_.rowCount()) return {};
  return PrepareDeviceMenu(model_, row, platform_.services.registry, state_);
}

bool ClientRuntime::RunDeviceCommand(DeviceCommand command, size_t row) {
  if (!operations_ || Closing()) return true;
  Frame frame(*this);
  switch (command) {
    case DeviceCommand::Connect: operations_->Connect(row); return true;
    case DeviceCommand::Disconnect: operations_->Disconnect(row); return true;
    case DeviceCommand::RequestToUse: operations_->RequestToUse(row); return true;
    case DeviceCommand::PrintManageDevice:
      if (!setup_) return false;
      setup_->ManagePrinter(row);
      return true;
    case DeviceCommand::ScanManageDevice:
      if (!setup_) return false;
      setup_->ManageScanner(row);
      return true;
    default: return false;
  }
}

void ClientRuntime::UseSetupWindow(setup::SetupWindow& window, PrintQueueAdmin& queues) {
  if (!refresh_ || Closing()) return;
  setupSleeper_ = std::make_unique<setup::PumpSleeper>(Pump());
  const setup::DeviceSetupServices services{platform_.services.registry,
                                            state_,
                                            model_,
                                            refresh_->driver(),
                                            monitors_.get(),
                                            Pump(),
                                            *setupSleeper_,
                                            platform_.spooler,
                                            queues,
                                            platform_.services.ui,
                                            printerMakers_,
                                            setup::TwainSourceNames};
  setup_ = std::make_unique<setup::DeviceSetup>(services, window);
}

bool ClientRuntime::QuickScanRuns(size_t row) const {
  if (row >= model_.rowCount()) return false;
  const DeviceData& device = model_.row(row);
  return tessaro::QuickScanRuns(
      device, ReadStoredDeviceEntry(platform_.services.registry, state_.appKey, device),
      state_.windowsVersionFlags);
}

void ClientRuntime::RunScanNow(size_t row, ScanPaths& paths,
                               std::function<void(bool busy)> busyCursor) {
  if (!refresh_ || Closing() || row >= model_.rowCount()) return;
  Frame frame(*this);
  if (!scanNow_) {
    const MainFormServices& services = platform_.services;
    // The row is looked up again after every wait: the list may have been rebuilt meanwhile.
    auto findRow = [this](const DeviceData& d) -> std::optional<DeviceData> {
      const DeviceData* now = model_.FindDeviceRow(d.serverName, d.serverIp, d.DeviceIdentityText);
      return now ? std::optional<DeviceData>(*now) : std::nullopt;
    };
    scanNow_ = std::make_unique<ScanNow>(ScanNowServices{
        driver_, services.registry, services.registry, services.ui, Pump(), services.clock,
        state_.appKey, state_.computerName, state_.windowsVersionFlags, findRow, [this](bool busy) {
          if (busyCursor_) busyCursor_(busy);
        }});
  }
  busyCursor_ = std::move(busyCursor);
  const DeviceData device = model_.row(row);
  scanNow_->Run(device, paths);
}

// Copies, so the menu is built after the lock is given back; it is built even when the lock
// could not be had in time.
std::vector<ServerMenuEntry> ClientRuntime::ServerMenuEntries() {
  if (!refresh_ || Closing()) return {};
  Frame frame(*this);
  RefreshLockWait hold(*core_.RefreshLock(), Pump(), platform_.services.clock, state_.flags);
  std::vector<ServerMenuEntry> entries;
  for (const auto& server : model_.servers())
    entries.push_back({server->displayName, server->enabled != 0});
  return entries;
}

void ClientRuntime::ServerCommand(const std::string& displayName, const std::string& item) {
  if (!operations_ || Closing()) return;
  Frame frame(*this);
  if (item == "Enable") {
    operations_->EnableServer(displayName);
  } else if (item == "Disable") {
    operations_->DisableServer(displayName);
  } else if (item == "Configuration...") {
    operations_->OpenServerConfiguration(displayName);
  }
}

void ClientRuntime::ReloadPrinterMakers(const std::string& folder) {
  LoadPrinterMakerTable(folder, printerMakers_);
}

}  // namespace tessaro
