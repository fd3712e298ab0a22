// SPDX-License-Identifier: GPL-2.0-or-later
#include "printing/ClientMonitorHost.h"

#include <cstdio>

namespace tessaro {

std::optional<MonitoredServer> ClientMonitorHost::FindServer(const std::string& mac) {
  std::optional<MonitoredServer> found;
  mainThread_.RunSync([&] {
    for (const auto& server : model_.servers()) {
      if (server->mac != mac) continue;
      found = MonitoredServer{server->name, server->ip, server->mac, server->handle};
      return;
    }
  });
  return found;
}

std::optional<MonitoredDevice> ClientMonitorHost::FindDevice(const MonitoredServer& server,
                                                             const DeviceKey& key) {
  std::optional<MonitoredDevice> found;
  mainThread_.RunSync([&] {
    for (size_t i = 0; i < model_.rowCount(); ++i) {
      const DeviceData& d = model_.row(i);
      if (d.serverMac == server.mac && d.Key().SameDeviceAs(key)) {
        found = MonitoredDevice{d.deviceNumber, d.owner};
        return;
      }
    }
  });
  return found;
}

// The attach processes events: the record is looked up again afterwards, and a Spur nobody
// takes is closed.
void ClientMonitorHost::OpenServerBus(const MonitoredServer& server) {
  mainThread_.RunSync([&] {
    const ServerData* before = model_.FindServer(server.name, server.ip);
    if (before == nullptr || before->handle != kInvalidBusHandle) return;
    const SpurInterface spur = refresh_.OpenServerBus(server.ip);
    if (spur.handle == kInvalidBusHandle) return;
    ServerData* record = model_.FindServer(server.name, server.ip);
    if (record == nullptr || record->handle != kInvalidBusHandle) {
      bus_.Close(spur.handle);
      return;
    }
    record->handle = spur.handle;
    record->busPath = spur.path;
  });
}

void ClientMonitorHost::RefreshDevices(const MonitoredServer& server) {
  mainThread_.RunSync([&] { refresh_.RefreshDevices(model_.FindServer(server.name, server.ip)); });
}

bool ClientMonitorHost::LinkDevice(BusHandle spur, const std::string& deviceNumber) {
  return driver_.LinkDevice(spur, deviceNumber);
}

bool ClientMonitorHost::LockDevice(BusHandle spur, const std::string& deviceNumber, LockKind kind,
                                   uint32_t seconds) {
  return driver_.LockDevice(spur, deviceNumber, kind, seconds);
}

bool ClientMonitorHost::UnlockDevice(BusHandle spur, const std::string& deviceNumber, LockKind kind,
                                     uint32_t seconds) {
  return driver_.UnlockDevice(spur, deviceNumber, kind, seconds);
}

int ClientMonitorHost::ShowMessage(const MessageRequest& request) {
  int answer = 0;
  mainThread_.RunSync([&] { answer = ui_.ShowMessage(request); });
  return answer;
}

bool ClientMonitorHost::SessionEnding() {
  bool ending = false;
  mainThread_.RunSync([&] { ending = flags_.SessionEnding; });
  return ending;
}

void ClientMonitorHost::LogFailure(const std::string& text) {
  std::fprintf(stderr, "tessaro: %s\n", text.c_str());
}

}  // namespace tessaro
