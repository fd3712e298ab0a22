// SPDX-License-Identifier: GPL-2.0-or-later
#include "options/OptionsCore.h"

#include <utility>

#include "base/NumberText.h"
#include "base/Product.h"
#include "options/UpdateCheck.h"
#include "platform/RegistryText.h"

namespace tessaro {
namespace {

std::optional<int32_t> CheckDaysValue(const std::string& text) {
  return ParseNumberIn<int32_t>(text, kMinCheckDays, kMaxCheckDays);
}

void WriteSetting(Registry& registry, const char* name, const std::string& text) {
  RegWriteText(registry, RegRoot::CurrentUser, AppRegistryKey, name, false, true, text);
}

const char* Switch(bool on) { return on ? "1" : "0"; }

}  // namespace

OptionsCore::OptionsCore(UpdateServices services, Shell& shell, VersionTimer& timer,
                         NotifySettings& settings, std::string queryUrl)
    : services_(services), shell_(shell), timer_(timer), settings_(settings),
      queryUrl_(std::move(queryUrl)) {}

int OptionsCore::DialogHeight(int fullHeight) const {
  return form_.checkPanelShown ? fullHeight : fullHeight - (kCheckPanelHeight - 20);
}

void OptionsCore::FormShow(bool networkReady) {
  std::string autoRun;
  RegReadText(services_.registry, RegRoot::CurrentUser, AppRegistryKey, "AutoRun Check", autoRun);
  form_ = OptionsForm{};
  form_.autoRun = autoRun != "0";
  form_.notifyNewDevice = settings_.NotifyDeviceDetect;
  form_.notifyNewVersion = settings_.NotifyNewVersion;
  form_.checkDays = std::to_string(settings_.NotifyCheckDays);
  acceptedCheckDays_ = form_.checkDays;
  if (settings_.NotifyLastDate > 0) {
    if (const auto last = UnpackDosDateTime(settings_.NotifyLastDate)) ShowNextNotification(*last);
  }
  form_.checkNowEnabled = networkReady;
}

bool OptionsCore::CheckDaysExit() {
  if (CheckDaysValue(form_.checkDays)) {
    acceptedCheckDays_ = form_.checkDays;
    return true;
  }
  MessageRequest request;
  request.caption = ProductName;
  request.text = kCheckDaysRefusedText;
  services_.ui.ShowMessage(request);
  form_.checkDays = acceptedCheckDays_;
  return false;
}

bool OptionsCore::Ok() {
  const auto days = CheckDaysValue(form_.checkDays);
  if (!days) return false;
  Registry& registry = services_.registry;
  WriteSetting(registry, "AutoRun Check", Switch(form_.autoRun));
  WriteSetting(registry, "Notify Device Detect", Switch(form_.notifyNewDevice));
  WriteSetting(registry, "Notify New Version", Switch(form_.notifyNewVersion));
  WriteSetting(registry, "Notify Check Days", form_.checkDays);
  settings_.NotifyDeviceDetect = form_.notifyNewDevice;
  settings_.NotifyNewVersion = form_.notifyNewVersion;
  settings_.NotifyCheckDays = *days;
  return true;
}

void OptionsCore::ShowNextNotification(const CivilDateTime& from) {
  form_.nextDate = NextNotificationText(from, settings_.NotifyCheckDays);
}

void OptionsCore::CheckNow() {
  timer_.SetEnabled(false);
  const auto reply = FetchLatestVersion(services_.http, queryUrl_, services_.ui);
  if (reply && reply->hasVersion) {
    if (!VersionIsNewer(reply->VersionText(), settings_.ProductVersion)) {
      form_.latestVersionShown = true;
      form_.checkPanelShown = false;
    } else {
      const CivilDateTime now = LocalNow(services_.clock);
      StoreNotifyLastDate(services_.registry, settings_, now);
      ShowNextNotification(now);
      form_.latestVersion = reply->VersionText();
      form_.latestVersionDate = ReleaseDateText(reply->date);
      form_.siteNames.clear();
      form_.siteAddresses.clear();
      for (const DownloadSite& site : reply->sites) {
        form_.siteNames.push_back(site.name);
        form_.siteAddresses.push_back(site.address);
      }
      form_.siteIndex = form_.siteNames.empty() ? -1 : 0;
      form_.latestVersionShown = false;
      form_.checkPanelShown = true;
    }
  }
  // The manual check leaves the periodic one running whatever it was before.
  timer_.SetEnabled(true);
}

void OptionsCore::SiteChange(int index) {
  if (index >= 0 && index < static_cast<int>(form_.siteNames.size())) form_.siteIndex = index;
}

void OptionsCore::Download() {
  std::string address;
  if (form_.siteIndex >= 0)
    address = form_.siteAddresses[static_cast<std::size_t>(form_.siteIndex)];
  if (!IsWebAddress(address) || !shell_.OpenUrl(address)) ShowConnectionFailed(services_.ui);
}

}  // namespace tessaro
