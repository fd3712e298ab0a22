// SPDX-License-Identifier: GPL-2.0-or-later
// The client's core as the tray client assembles it, over a real busd: the refresh cycle, the
// event dispatch and the reader thread, with this test's thread as the main thread and a
// recording main window. Hand-overs run while the test waits in Until().
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <memory>

#include "autoconnect/AutoConnectStore.h"
#include "devices/DriverEvents.h"
#include "devices/RefreshCycle.h"
#include "devices/RefreshLock.h"
#include "driver/ReadThread.h"
#include "platform/linux/BusIpcTransport.h"
#include "platform/linux/FileNamedMutex.h"
#include "platform/linux/SqliteRegistry.h"
#include "platform/linux/SystemClock.h"
#include "tests/devices/RecordingWindow.h"
#include "tests/support/Lab.h"
#include "tests/support/ManualMainThread.h"
#include "tests/support/ScriptedUi.h"

namespace tessaro::testing {

// The folder of this PC's named mutexes, made when missing.
inline const std::string& LockFolder(const Lab::Pc& pc) {
  ::mkdir(pc.lockDir.c_str(), 0700);
  return pc.lockDir;
}

class ClientStack {
 public:
  explicit ClientStack(const Lab::Pc& pc)
      : bus(pc.runtimeDir), registry(HivePaths{pc.userHive, pc.userHive + ".machine"}),
        lock(kRefreshLockMutexName, LockFolder(pc)) {
    state.computerName = pc.name;
  }
  ~ClientStack() { Close(); }

  // Opens the Trunk and starts the reader, as the window's creation does.
  void Start() {
    state.trunk = cycle.driver().OpenTrunk();
    reader = std::make_unique<TReadThread>(bus, state.trunk, main, clock,
                                           [this](std::span<const uint8_t> record, int64_t count) {
                                             dispatcher.Dispatch(record, count);
                                           });
    reader->Start();
  }
  // The close sequence's part: the reader stopped, every Spur and the Trunk closed.
  void Close() {
    if (!reader) return;
    state.flags.Closing = true;
    reader->Stop(cycle.driver(), main);
    reader.reset();
    cycle.CloseServers();
    bus.Close(state.trunk);
    state.trunk = kInvalidBusHandle;
  }
  void StoreServer(const HubSpec& hub, bool enabled) {
    ServerInfoReg reg;
    reg.ServerName = hub.name;
    reg.ServerIP = hub.ip;
    reg.ServerMAC = hub.mac;
    reg.ServerEnable = enabled ? 1 : 0;
    WriteServerEntry(registry, AppRegistryKey, reg);
  }
  // Serves hand-overs from the reader until `condition` holds.
  template <typename F>
  bool Until(F condition, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
      if (std::chrono::steady_clock::now() > end) return false;
      main.DrainWithin(std::chrono::milliseconds(50));
    }
    return true;
  }
  const DeviceData* Row(const std::string& number) const {
    for (size_t i = 0; i < model.rowCount(); ++i)
      if (model.row(i).deviceNumber == number) return &model.row(i);
    return nullptr;
  }

  BusIpcTransport bus;
  SystemClock clock;
  ManualMainThread main;
  SqliteRegistry registry;
  FileNamedMutex lock;
  ClientState state;
  RecordingWindow window{clock, &state.flags};
  DeviceListModel model{window};
  RefreshCycle cycle{{bus, clock, main, lock, registry, window}, state, model};
  ScriptedUi ui;
  DriverEventDispatcher dispatcher{cycle,  model, state, lock,
                                   window, ui,    clock, [] { return true; }};
  std::unique_ptr<TReadThread> reader;
};

}  // namespace tessaro::testing
