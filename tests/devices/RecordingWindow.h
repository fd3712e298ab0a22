// SPDX-License-Identifier: GPL-2.0-or-later
// The main window as the refresh cycle and the event dispatch see it, recording every call. Its
// release-request timer is a single-shot deadline on a clock the test controls.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "devices/MainWindowPort.h"
#include "platform/Clock.h"
#include "records/ClientState.h"

namespace tessaro::testing {

class RecordingWindow : public MainWindowPort {
 public:
  // `flags` (optional) lets the recorder note NoticeBusy while a notice is shown.
  explicit RecordingWindow(Clock& clock, const ClientFlags* flags = nullptr)
      : clock_(clock), flags_(flags) {}

  void ShowNotePanel(bool visible) override {
    notePanelCalls.push_back(visible);
    notePanelVisible = visible;
  }
  void NetworkChecked(bool networkReady) override { networkChecks.push_back(networkReady); }
  void ShowDeviceFoundNotice(const std::string& displayName) override {
    notices.push_back(displayName);
    noticeBusyDuringNotice.push_back(flags_ != nullptr && flags_->NoticeBusy);
    if (onNotice) onNotice(displayName);
  }
  void StartReleaseRequestTimer(std::chrono::milliseconds delay) override {
    timerStarts.push_back(delay);
    timerDeadline = clock_.Now() + delay;  // a running timer starts over
  }
  void RepaintList() override { ++repaints; }

  // True once when the release-request timer is due at the clock's present time; it stops then.
  bool TakeDueTimer() {
    if (!timerDeadline || clock_.Now() < *timerDeadline) return false;
    timerDeadline.reset();
    return true;
  }

  std::vector<bool> notePanelCalls;
  std::optional<bool> notePanelVisible;
  std::vector<bool> networkChecks;
  std::vector<std::string> notices;
  std::vector<bool> noticeBusyDuringNotice;
  std::function<void(const std::string&)> onNotice;  // runs inside the notice, as its events would
  std::vector<std::chrono::milliseconds> timerStarts;
  std::optional<std::chrono::steady_clock::time_point> timerDeadline;
  int repaints = 0;

 private:
  Clock& clock_;
  const ClientFlags* flags_;
};

}  // namespace tessaro::testing
