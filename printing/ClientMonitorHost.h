// SPDX-License-Identifier: GPL-2.0-or-later
// The print monitors' host in the running client: look-ups and refreshes are handed to the main
// thread and run there while the monitor waits; device requests go out from the monitor's own
// thread.
#pragma once

#include "devices/DeviceListModel.h"
#include "devices/RefreshCycle.h"
#include "driver/DriverClient.h"
#include "platform/MainThread.h"
#include "printing/PrintMonitorHost.h"
#include "records/ClientState.h"

namespace tessaro {

class ClientMonitorHost : public PrintMonitorHost {
 public:
  // Everything must outlive the monitors. `driver` is used from the monitors' threads, which
  // the bus allows.
  ClientMonitorHost(MainThread& mainThread, DeviceListModel& model, RefreshCycle& refresh,
                    DriverClient& driver, BusTransport& bus, UiPort& ui, const ClientFlags& flags)
      : mainThread_(mainThread), model_(model), refresh_(refresh), driver_(driver), bus_(bus),
        ui_(ui), flags_(flags) {}

  std::optional<MonitoredServer> FindServer(const std::string& mac) override;
  std::optional<MonitoredDevice> FindDevice(const MonitoredServer& server,
                                            const DeviceKey& key) override;
  void OpenServerBus(const MonitoredServer& server) override;
  void RefreshDevices(const MonitoredServer& server) override;
  bool LinkDevice(BusHandle spur, const std::string& deviceNumber) override;
  bool LockDevice(BusHandle spur, const std::string& deviceNumber, LockKind kind,
                  uint32_t seconds) override;
  bool UnlockDevice(BusHandle spur, const std::string& deviceNumber, LockKind kind,
                    uint32_t seconds) override;
  int ShowMessage(const MessageRequest& request) override;
  bool SessionEnding() override;
  void LogFailure(const std::string& text) override;

 private:
  MainThread& mainThread_;
  DeviceListModel& model_;
  RefreshCycle& refresh_;
  DriverClient& driver_;
  BusTransport& bus_;
  UiPort& ui_;
  const ClientFlags& flags_;
};

}  // namespace tessaro
