// SPDX-License-Identifier: GPL-2.0-or-later
// What a print monitor needs of the running client: its look-ups in ServerList and the device
// rows and the refreshes it asks for (all run on the main thread, which owns them), the device
// requests it sends itself, and the one message box it may show.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "driver/LockKind.h"
#include "platform/BusTransport.h"
#include "platform/UiPort.h"
#include "records/DeviceKey.h"

namespace tessaro {

// A server of ServerList as the monitor last saw it.
struct MonitoredServer {
  std::string name;
  std::string ip;
  std::string mac;
  BusHandle handle = kInvalidBusHandle;
};

// A device row as the monitor last saw it.
struct MonitoredDevice {
  std::string deviceNumber;
  std::string owner;
};

class PrintMonitorHost {
 public:
  virtual ~PrintMonitorHost() = default;
  // The first server of ServerList whose MAC is `mac`.
  virtual std::optional<MonitoredServer> FindServer(const std::string& mac) = 0;
  // The first row of `server` holding the device of `key` (its server's address aside).
  virtual std::optional<MonitoredDevice> FindDevice(const MonitoredServer& server,
                                                    const DeviceKey& key) = 0;
  // Attaches the server and opens its Spur; the refresh of its device rows. Both return once
  // they have run.
  virtual void OpenServerBus(const MonitoredServer& server) = 0;
  virtual void RefreshDevices(const MonitoredServer& server) = 0;

  virtual bool LinkDevice(BusHandle spur, const std::string& deviceNumber) = 0;
  virtual bool LockDevice(BusHandle spur, const std::string& deviceNumber, LockKind kind,
                          uint32_t seconds) = 0;
  virtual bool UnlockDevice(BusHandle spur, const std::string& deviceNumber, LockKind kind,
                            uint32_t seconds) = 0;

  // Shows a message box and returns the user's answer; only the calling monitor waits for it.
  virtual int ShowMessage(const MessageRequest& request) = 0;
  // Whether the desktop session is ending (the monitor then leaves its queue as it is).
  virtual bool SessionEnding() = 0;
  // A failure nobody waits for an answer to (a monitor that cannot start, a look-up that threw):
  // it goes to the log. Called from any thread.
  virtual void LogFailure(const std::string& text) = 0;
};

}  // namespace tessaro
