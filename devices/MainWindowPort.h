// SPDX-License-Identifier: GPL-2.0-or-later
// Everything the refresh cycle and the driver event dispatch need from the main window. The Qt
// window implements it; tests record the calls. Every method runs on the main thread and must
// not process pending events, except ShowDeviceFoundNotice, whose sliding window may.
#pragma once

#include <chrono>
#include <string>

#include "platform/EventPump.h"

namespace tessaro {

class MainWindowPort {
 public:
  virtual ~MainWindowPort() = default;

  // The hint "No USB device is detected..." shows exactly when the list has no rows. Called after
  // every row deletion, every added row and every timer-driven server refresh; a call with the
  // panel's current visibility changes nothing. Changing it also re-applies the tray tip and icon.
  virtual void ShowNotePanel(bool visible) = 0;

  // This PC's addresses changed and the network readiness was just checked: the tray tip and
  // icon follow the tray rule, and the Options dialog's "check now" button (when the dialog is
  // shown) is enabled exactly when `networkReady`.
  virtual void NetworkChecked(bool networkReady) = 0;

  // A row was added while "Notify Device Detect" is on: show the device-found notice for its
  // caption. ClientFlags::NoticeBusy is set for the duration of the call.
  virtual void ShowDeviceFoundNotice(const std::string& displayName) = 0;

  // (Re)starts the single-shot release-request timer: a running one starts over, so two requests
  // in quick succession fire once. When it fires, call
  // DriverEventDispatcher::OnReleaseRequestTimer().
  virtual void StartReleaseRequestTimer(std::chrono::milliseconds delay) = 0;

  // Paint the device list now, before a notice or a message can cover it.
  virtual void RepaintList() = 0;
};

// For programs without a window (the command line, benchmarks): nothing to show, paint or pump.
class NoWindow : public MainWindowPort, public EventPump {
 public:
  void ShowNotePanel(bool) override {}
  void NetworkChecked(bool) override {}
  void ShowDeviceFoundNotice(const std::string&) override {}
  void StartReleaseRequestTimer(std::chrono::milliseconds) override {}
  void RepaintList() override {}
  void ProcessPendingEvents() override {}
};

}  // namespace tessaro
