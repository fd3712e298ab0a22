// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/CliMonitor.h"

#include <signal.h>

#include <functional>
#include <memory>
#include <mutex>

#include "cli/CliRunner.h"
#include "cli/CommandMainThread.h"
#include "cli/ConsoleUi.h"
#include "cli/JsonLine.h"
#include "devices/DriverEvents.h"
#include "driver/ReadThread.h"
#include "driver/TrunkWatch.h"
#include "printing/ClientMonitorHost.h"
#include "printing/PrintMonitors.h"

namespace tessaro::cli {
namespace {

volatile sig_atomic_t g_stopRequested = 0;
extern "C" void OnStopSignal(int) { g_stopRequested = 1; }

constexpr std::chrono::milliseconds kLoopTick{50};
constexpr std::chrono::milliseconds kTrunkUpdateInterval{500};

class ActionPrinter : public MonitorActionSink {
 public:
  ActionPrinter(std::ostream& out, bool json) : out_(out), json_(json) {}
  void Report(const MonitorAction& action) override {
    const std::string line = FormatMonitorAction(action, json_);
    std::lock_guard lock(mutex_);
    out_ << line << '\n' << std::flush;
  }

 private:
  std::ostream& out_;
  const bool json_;
  std::mutex mutex_;
};

}  // namespace

std::string FormatMonitorAction(const MonitorAction& a, bool json) {
  if (json) {
    return JsonLine()
        .Text("queue", a.queue)
        .Text("action", a.action)
        .Text("server", a.serverMac)
        .Text("device", a.deviceNumber)
        .str();
  }
  return a.queue + "  " + a.action + "  server " + a.serverMac + "  device " + a.deviceNumber;
}

int RunMonitor(const ClientEnvironment& env, BusTransport& bus, Clock& clock, BusHandle trunk,
               bool json, std::ostream& out, std::ostream& err) {
  if (env.registry == nullptr || env.refreshLock == nullptr || env.spooler == nullptr) {
    err << "tessaro-cli: monitor needs the user's hive, the refresh lock and the spooler\n";
    return exitcode::kFailed;
  }
  g_stopRequested = 0;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);

  CommandMainThread mainThread;
  ConsoleUi ui(err, ConsoleLine::ProgramAndCaption);
  ActionPrinter printer(out, json);
  ClientState state;
  LoadClientState(env, trunk, state);
  NoWindow window;
  DeviceListModel model(window);
  RefreshCycle refresh({bus, clock, mainThread, *env.refreshLock, *env.registry, window}, state,
                       model);
  DriverClient driver(bus, clock);
  DriverEventDispatcher dispatcher(refresh, model, state, *env.refreshLock, window, ui, clock,
                                   [] { return true; });
  std::unique_ptr<TReadThread> reader;
  auto startReader = [&] {
    reader = std::make_unique<TReadThread>(bus, state.trunk, mainThread, clock,
                                           [&](std::span<const uint8_t> record, int64_t bytes) {
                                             dispatcher.Dispatch(record, bytes);
                                           });
    reader->Start();
  };
  auto stopReader = [&] {
    if (reader) reader->Stop(driver, mainThread);
    reader.reset();
  };
  auto refreshAll = [&] {
    refresh.RefreshServers();
    for (const auto& server : model.servers())
      if (server->enabled) refresh.RefreshDevices(server.get());
  };
  // A busd restarted under the monitor takes its Trunk and server links along: they are made
  // again as at the start, and the monitors find their devices through them.
  TrunkWatch trunkWatch(driver, bus, clock, state.trunk,
                        {[&] { return reader && reader->ReadsFailing(); },
                         [&] {
                           stopReader();
                           refresh.BusGone();
                         },
                         [&] {
                           startReader();
                           refreshAll();
                         }});
  ClientMonitorHost host(mainThread, model, refresh, driver, bus, ui, state.flags);
  PrintMonitors monitors(PrintMonitorServices{*env.spooler, host, clock, state.computerName,
                                              state.windowsVersionFlags});
  monitors.ReportActionsTo(&printer);

  // The first refresh as the client's start makes it; the monitors start after the delayed one.
  refreshAll();
  startReader();
  bool started = false;
  auto nextTick = std::chrono::steady_clock::now();
  auto nextWatch = nextTick + kTrunkWatchInterval;
  while (!g_stopRequested) {
    const auto now = std::chrono::steady_clock::now();
    if (!started && now >= nextTick) {
      nextTick += kTrunkUpdateInterval;
      if (refresh.TrunkUpdateTick() && !g_stopRequested) {
        monitors.StartPrintMonitors(state.autoPrinters, MonitorList::Printer);
        monitors.StartPrintMonitors(state.autoFaxes, MonitorList::Fax);
        started = true;
      }
    }
    if (now >= nextWatch) {
      nextWatch = now + kTrunkWatchInterval;
      trunkWatch.Tick();
    }
    mainThread.Serve(kLoopTick);
  }
  monitors.StopPrintMonitors(state.autoPrinters, mainThread);
  monitors.StopPrintMonitors(state.autoFaxes, mainThread);
  stopReader();
  refresh.CloseServers();
  // The session closes the Trunk it opened; one opened here again is closed here.
  if (state.trunk != trunk && state.trunk != kInvalidBusHandle) bus.Close(state.trunk);
  return exitcode::kOk;
}

}  // namespace tessaro::cli
