// SPDX-License-Identifier: GPL-2.0-or-later
// The main window as the running program sees it: the creation steps' shell, the device list's
// port and the close sequence's steps that only a window can take. The Qt main window implements
// it; tests record the calls.
#pragma once

#include "app/MainFormCore.h"
#include "app/Settings.h"
#include "devices/MainWindowPort.h"

namespace tessaro {

class ClientWindow : public MainFormShell, public MainWindowPort {
 public:
  // The close sequence calls these in this order, each once.
  // Where the window is now; stored at the end of the close.
  virtual MainWindowPlacement PlacementAtClose() const = 0;
  // Before the reader stops: nothing the window's timers start may run any more.
  virtual void StopTimers() = 0;
  // After the servers, the lists and the Trunk are closed, before the sockets and the lock.
  virtual void RemoveTrayIcon() = 0;
  // The last step: the window goes and the program leaves its event loop.
  virtual void Closed() = 0;
};

// Stands in for the window before one is attached and after it has gone: calls then go nowhere.
class WindowRelay final : public ClientWindow {
 public:
  void Attach(ClientWindow* window) { window_ = window; }
  ClientWindow* window() const { return window_; }

  void SetTrayLook(const TrayLook& look) override {
    if (window_ != nullptr) window_->SetTrayLook(look);
  }
  void AddTrayIcon() override {
    if (window_ != nullptr) window_->AddTrayIcon();
  }
  void StartMiniWindowTimer() override {
    if (window_ != nullptr) window_->StartMiniWindowTimer();
  }
  void StartNotifyVersionTimer(int intervalMs) override {
    if (window_ != nullptr) window_->StartNotifyVersionTimer(intervalMs);
  }
  void ShowNotePanel(bool visible) override {
    if (window_ != nullptr) window_->ShowNotePanel(visible);
  }
  void NetworkChecked(bool networkReady) override {
    if (window_ != nullptr) window_->NetworkChecked(networkReady);
  }
  void ShowDeviceFoundNotice(const std::string& displayName) override {
    if (window_ != nullptr) window_->ShowDeviceFoundNotice(displayName);
  }
  void StartReleaseRequestTimer(std::chrono::milliseconds delay) override {
    if (window_ != nullptr) window_->StartReleaseRequestTimer(delay);
  }
  void RepaintList() override {
    if (window_ != nullptr) window_->RepaintList();
  }
  MainWindowPlacement PlacementAtClose() const override {
    return window_ != nullptr ? window_->PlacementAtClose() : MainWindowPlacement{};
  }
  void StopTimers() override {
    if (window_ != nullptr) window_->StopTimers();
  }
  void RemoveTrayIcon() override {
    if (window_ != nullptr) window_->RemoveTrayIcon();
  }
  void Closed() override {
    if (window_ != nullptr) window_->Closed();
  }

 private:
  ClientWindow* window_ = nullptr;
};

}  // namespace tessaro
