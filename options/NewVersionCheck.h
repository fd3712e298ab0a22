// SPDX-License-Identifier: GPL-2.0-or-later
// The periodic new-version check behind the main window's Timer_NotifyVer: first 2 s after start,
// then once a minute; it asks the server only once the notice period has passed (or on the very
// first run) and moves "Notify Last Date" only when it found something newer to announce.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "options/NotifySettings.h"
#include "platform/HttpClient.h"
#include "platform/UiPort.h"

namespace tessaro {

inline constexpr int kFirstCheckMs = 2000;
inline constexpr int kCheckEveryMs = 60000;

// The timer as the checks drive it; the Qt form holds the real one.
class VersionTimer {
 public:
  virtual ~VersionTimer() = default;
  virtual void SetEnabled(bool enabled) = 0;
  virtual void SetInterval(int intervalMs) = 0;
  virtual int Interval() const = 0;
};

struct NewVersionHooks {
  std::function<bool()> networkReady;
  std::function<bool()> anyDeviceNoticeShown;
  // Called after a newer version moved the last notice date (the open dialog shows it).
  std::function<void(const CivilDateTime& now)> lastNoticeMoved;
  // "v1.2" and the Global download address.
  std::function<void(const std::string& version, const std::string& address)> showNotice;
};

struct UpdateServices {
  Registry& registry;
  HttpClient& http;
  UiPort& ui;
  const Clock& clock;
};

class NewVersionCheck {
 public:
  NewVersionCheck(UpdateServices services, VersionTimer& timer, NotifySettings& settings,
                  std::string queryUrl, NewVersionHooks hooks);
  // A tick that arrives while a check is still running (its message box runs the event loop)
  // is dropped, so an unattended program does not stack a new box every minute.
  void Tick();

 private:
  UpdateServices services_;
  VersionTimer& timer_;
  NotifySettings& settings_;
  std::string queryUrl_;
  NewVersionHooks hooks_;
  bool checking_ = false;
  // When the connection message was last shown: an offline machine is told once per notice
  // period, not at every minute's retry.
  std::optional<CivilDateTime> failureToldAt_;
};

}  // namespace tessaro
