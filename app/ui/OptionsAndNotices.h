// SPDX-License-Identifier: GPL-2.0-or-later
// What the main window owns for the Options dialog, the new-version check and the sliding
// notices: the shared notice board, the notice settings, the HTTP client and the dialog.
#pragma once

#include <QPointer>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "app/MainFormCore.h"
#include "notices/ui/AboutBox.h"
#include "options/ui/OptionFm.h"
#include "platform/linux/CurlHttpClient.h"
#include "records/ClientState.h"

namespace tessaro {

class QtVersionTimer : public VersionTimer {
 public:
  explicit QtVersionTimer(QTimer& timer) : timer_(timer) {}
  void SetEnabled(bool enabled) override {
    if (enabled) {
      timer_.start();
    } else {
      timer_.stop();
    }
  }
  void SetInterval(int intervalMs) override { timer_.setInterval(intervalMs); }
  int Interval() const override { return timer_.interval(); }

 private:
  QTimer& timer_;
};

class OptionsAndNotices {
 public:
  // `versionTimer` is the main window's Timer_NotifyVer; its ticks go to TickVersionCheck.
  OptionsAndNotices(MainFormCore& core, ClientState& state, Shell& shell, QTimer& versionTimer,
                    const WorkArea& workArea, QWidget* owner, std::function<bool()> networkReady);

  TOptionFm& OptionsDialog() { return *dialog_; }
  void PrepareOptions(bool networkReady) { dialog_->Prepare(networkReady); }
  // Writes the device notice switch through to the running program after OK.
  void OptionsClosed(int result);
  void NetworkChanged(bool networkReady);
  void TickVersionCheck() { check_->Tick(); }

  void ShowAboutNotice();
  void ShowDeviceFoundNotice(const std::string& deviceName);
  bool AnyDeviceNoticeShown() const { return board_.taken.AnyTaken(); }
  ~OptionsAndNotices();
  OptionsAndNotices(const OptionsAndNotices&) = delete;
  OptionsAndNotices& operator=(const OptionsAndNotices&) = delete;

 private:
  // A new notice window that deletes itself once closed; those still open go with this.
  TAboutBox* NewNotice();

  ClientState& state_;
  Shell& shell_;
  NoticeBoard board_;
  NotifySettings settings_;
  CurlHttpClient http_;
  QtVersionTimer timer_;
  std::unique_ptr<NewVersionCheck> check_;
  std::unique_ptr<OptionsCore> options_;
  TOptionFm* dialog_;
  std::vector<QPointer<TAboutBox>> notices_;
};

}  // namespace tessaro
