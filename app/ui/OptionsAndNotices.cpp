// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/ui/OptionsAndNotices.h"

#include <QDialog>

#include "app/ui/MainForm.h"
#include "options/UpdateCheck.h"

namespace tessaro {
namespace {

NotifySettings FromLoaded(const MainFormSettings& loaded) {
  NotifySettings settings;
  settings.NotifyDeviceDetect = loaded.NotifyDeviceDetect;
  settings.NotifyNewVersion = loaded.NotifyNewVersion;
  settings.NotifyCheckDays = loaded.NotifyCheckDays;
  settings.NotifyLastDate = loaded.NotifyLastDate;
  settings.ProductVersion = loaded.ProductVersion;
  return settings;
}

}  // namespace

OptionsAndNotices::OptionsAndNotices(MainFormCore& core, ClientState& state, Shell& shell,
                                     QTimer& versionTimer, const WorkArea& workArea, QWidget* owner,
                                     std::function<bool()> networkReady)
    : state_(state), shell_(shell),
      board_(ComputeNoticeGeometry(workArea.left, workArea.top, workArea.right, workArea.bottom)),
      settings_(FromLoaded(core.Settings())), timer_(versionTimer) {
  const MainFormServices& services = core.Services();
  const UpdateServices update{services.registry, http_, services.ui, services.clock};
  const std::string url = UpdateQueryUrl(services.registry);
  NewVersionHooks hooks;
  hooks.networkReady = std::move(networkReady);
  hooks.anyDeviceNoticeShown = [this] { return AnyDeviceNoticeShown(); };
  hooks.lastNoticeMoved = [this](const CivilDateTime& now) {
    if (dialog_->isVisible()) dialog_->ShowNextNotification(now);
  };
  hooks.showNotice = [this](const std::string& version, const std::string& address) {
    TraceLine("new version notice: " + version + " " + address);
    NewNotice()->ShowNewVersionNotice(version, address);
  };
  check_ = std::make_unique<NewVersionCheck>(update, timer_, settings_, url, std::move(hooks));
  options_ = std::make_unique<OptionsCore>(update, shell_, timer_, settings_, url);
  dialog_ = new TOptionFm(*options_, owner);
}

OptionsAndNotices::~OptionsAndNotices() {
  for (const QPointer<TAboutBox>& notice : notices_) delete notice.data();
}

TAboutBox* OptionsAndNotices::NewNotice() {
  std::erase_if(notices_, [](const QPointer<TAboutBox>& notice) { return notice.isNull(); });
  auto* notice = new TAboutBox(board_, shell_);
  notices_.emplace_back(notice);
  return notice;
}

void OptionsAndNotices::OptionsClosed(int result) {
  if (result == QDialog::Accepted) state_.notifyDeviceDetect = settings_.NotifyDeviceDetect;
}

void OptionsAndNotices::NetworkChanged(bool networkReady) {
  if (dialog_->isVisible()) dialog_->NetworkChanged(networkReady);
}

void OptionsAndNotices::ShowAboutNotice() {
  NewNotice()->ShowAboutNotice(settings_.ProductVersion);
}

void OptionsAndNotices::ShowDeviceFoundNotice(const std::string& deviceName) {
  TAboutBox* notice = NewNotice();
  if (!notice->ShowDeviceFoundNotice(deviceName)) delete notice;
}

}  // namespace tessaro
