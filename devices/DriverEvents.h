// SPDX-License-Identifier: GPL-2.0-or-later
// The main window's handler of driver event records (the reader thread hands each one over on
// the main thread), and the release request it arms.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "devices/DeviceListModel.h"
#include "devices/MainWindowPort.h"
#include "devices/RefreshCycle.h"
#include "platform/Clock.h"
#include "platform/NamedMutex.h"
#include "platform/UiPort.h"
#include "records/ClientState.h"

namespace tessaro {

inline constexpr std::chrono::milliseconds kReleaseRequestDelay{500};

// "Please release the " + caption + "\n(disconnect) resources for other user."
std::string ReleaseRequestText(const std::string& displayName);

class DriverEventDispatcher {
 public:
  // `networkReady` runs the network readiness check (for events about this PC's addresses).
  DriverEventDispatcher(RefreshCycle& refresh, DeviceListModel& model, ClientState& state,
                        NamedMutex& refreshLock, MainWindowPort& window, UiPort& ui, Clock& clock,
                        std::function<bool()> networkReady);

  // One completed read of `byteCount` bytes (main thread):
  //  kind 1  the server's rows are refreshed, unless a device command runs or RefreshLock is
  //          not free at once (the next change or refresh catches up);
  //  kind 2  the servers are refreshed (and the trunk-update timer waits for quiet);
  //  kind 3  the network is checked, the tray follows, then the servers are refreshed;
  //  kind 4  another PC asks for a device this PC holds: the release request is armed;
  //  kind 5 and anything else: nothing. Nothing at all once the window is closing.
  void Dispatch(std::span<const uint8_t> record, int64_t byteCount);

  // The window's release-request timer fired: shows the last request, once.
  void OnReleaseRequestTimer();

  struct ReleaseRequest {
    std::string text;  // the last request's text
    bool armed = false;
    std::chrono::steady_clock::time_point firesAt{};
  };
  const ReleaseRequest& releaseRequest() const { return request_; }

 private:
  void DeviceListChanged(const std::string& serverIp);
  void RequestToUse(const std::string& serverIp, int deviceNumber, int subCode);

  RefreshCycle& refresh_;
  DeviceListModel& model_;
  ClientState& state_;
  NamedMutex& refreshLock_;
  MainWindowPort& window_;
  UiPort& ui_;
  Clock& clock_;
  std::function<bool()> networkReady_;
  ReleaseRequest request_;
};

}  // namespace tessaro
