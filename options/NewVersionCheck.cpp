// SPDX-License-Identifier: GPL-2.0-or-later
#include "options/NewVersionCheck.h"

#include <utility>

#include "options/UpdateCheck.h"

namespace tessaro {

NewVersionCheck::NewVersionCheck(UpdateServices services, VersionTimer& timer,
                                 NotifySettings& settings, std::string queryUrl,
                                 NewVersionHooks hooks)
    : services_(services), timer_(timer), settings_(settings), queryUrl_(std::move(queryUrl)),
      hooks_(std::move(hooks)) {}

void NewVersionCheck::Tick() {
  if (checking_) return;
  if (timer_.Interval() == kFirstCheckMs) {
    // A device notice is sliding: the version notice waits rather than cover it.
    if (hooks_.anyDeviceNoticeShown && hooks_.anyDeviceNoticeShown()) return;
    timer_.SetInterval(kCheckEveryMs);
  }
  const CivilDateTime now = LocalNow(services_.clock);
  bool firstRun = false;
  if (settings_.NotifyLastDate <= 0) {
    if (!StoreNotifyLastDate(services_.registry, settings_, now)) return;
    firstRun = true;
  }
  const auto last = UnpackDosDateTime(settings_.NotifyLastDate);
  if (!last) return;
  const int64_t elapsed = WholeMinutesBetween(*last, now);
  if (hooks_.networkReady && !hooks_.networkReady()) return;
  if (elapsed <= int64_t{settings_.NotifyCheckDays} * 1440 && !firstRun) return;

  const int64_t period = int64_t{settings_.NotifyCheckDays} * 1440;
  const bool tell = !failureToldAt_ || WholeMinutesBetween(*failureToldAt_, now) > period;
  checking_ = true;
  const auto reply = FetchLatestVersion(services_.http, queryUrl_, services_.ui, tell);
  checking_ = false;
  if (!reply) {
    if (tell) failureToldAt_ = now;
    return;
  }
  failureToldAt_.reset();
  if (!reply->hasVersion) return;
  if (!VersionIsNewer(reply->VersionText(), settings_.ProductVersion)) return;
  StoreNotifyLastDate(services_.registry, settings_, now);
  if (hooks_.lastNoticeMoved) hooks_.lastNoticeMoved(now);
  if (hooks_.showNotice) {
    hooks_.showNotice("v" + reply->VersionText(), GlobalDownloadAddress(reply->sites));
  }
}

}  // namespace tessaro
