// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/ui/ScanNowPaths.h"

#include <QDir>
#include <QStandardPaths>

#include "platform/linux/SaneScannerSource.h"
#include "platform/qt/QtText.h"
#include "scanning/twain/TwainManager.h"
#include "scanning/twain/WinIni.h"
#include "scanning/ui/NetScanForm.h"
#include "scanning/ui/SourceDialog.h"
#include "scanning/wia/ScannerWiaDevice.h"
#include "scanning/wia/TwainPath.h"
#include "scanning/wia/ui/WiaForms.h"

namespace tessaro {

namespace {

std::string FolderOf(QStandardPaths::StandardLocation location, const char* fallback) {
  QString folder = QStandardPaths::writableLocation(location);
  if (folder.isEmpty()) folder = QDir::homePath() + "/" + fallback;
  return ToStdString(QDir(folder).absolutePath()) + "/";
}

}  // namespace

// The scan window's idle unlock and relock, with the scan lock kind.
class ScanNowPaths::DriverScanLock : public twain::ScanLockPort {
 public:
  explicit DriverScanLock(DriverClient& driver) : driver_(driver) {}
  bool LockDevice(int busHandle, const std::string& deviceNumber, uint32_t seconds) override {
    return driver_.LockDevice(busHandle, deviceNumber, LockKind::Automatic, seconds);
  }
  bool UnlockDevice(int busHandle, const std::string& deviceNumber) override {
    return driver_.UnlockDevice(busHandle, deviceNumber, LockKind::Automatic, 0);
  }

 private:
  DriverClient& driver_;
};

ScanNowPaths::ScanNowPaths(UiPort& ui, MainThread& mainThread, DriverClient& driver,
                           std::string computerName, QWidget* owner)
    : ui_(ui), mainThread_(mainThread), owner_(owner), computerName_(std::move(computerName)),
      windowsFolder_(FolderOf(QStandardPaths::AppLocalDataLocation, ".local/share/tessaro") +
                     "windows"),
      lock_(std::make_unique<DriverScanLock>(driver)) {}

ScanNowPaths::~ScanNowPaths() {
  if (manager_) twain::TwainManager::Install(nullptr);
}

SaneScannerSource& ScanNowPaths::Scanners() {
  if (!scanners_) scanners_ = std::make_unique<SaneScannerSource>();
  return *scanners_;
}

TNetScanFm& ScanNowPaths::ScanWindow() {
  if (!scanWindow_) {
    QDir().mkpath(ToQString(windowsFolder_));
    // The SANE data source is this program's own: it is installed wherever the client runs.
    twain::InstallSaneDataSource(windowsFolder_);
    manager_ = std::make_unique<twain::TwainManager>(Scanners(), windowsFolder_);
    sourceDialog_ = std::make_unique<TSourceDialog>(owner_);
    manager_->SetSourceDialog(sourceDialog_.get());
    twain::TwainManager::Install(manager_.get());
    NetScanSetup setup{windowsFolder_, FolderOf(QStandardPaths::DocumentsLocation, "Documents"),
                       FolderOf(QStandardPaths::PicturesLocation, "Pictures")};
    scanWindow_ = std::make_unique<TNetScanFm>(ui_, mainThread_, *lock_, setup, owner_);
  }
  return *scanWindow_;
}

bool ScanNowPaths::TwainReady() {
  TNetScanFm& window = ScanWindow();
  // The component reports a manager it cannot load or open by throwing; that is no manager.
  try {
    if (!twainReady_ && !window.TwainReady() && window.Twain().IsTwainDriverAvailable()) {
      window.Twain().InitTWAIN();
      twainReady_ = true;
    }
  } catch (const twain::ETwainError&) {
    return false;
  }
  return twainReady_ || window.TwainReady();
}

bool ScanNowPaths::RunTwain(const DeviceData& snapshot, const std::string& scanNameTwain,
                            bool& lockHeld) {
  TNetScanFm& window = ScanWindow();
  twain::TTwainScanner& twain = window.Twain();
  std::optional<twain::TW_IDENTITY> source;
  try {
    if (!twain.IsDataSourceManagerOpen()) twain.OpenDataSourceManager();
    source = FindTwainSource(twain, scanNameTwain);
  } catch (const twain::ETwainError&) {
    // A manager that cannot be opened lists no source: Scan Now says so and drops the lock.
  }
  if (!source) return false;
  twain.SetDataSource(*source);
  // Scan Now has just linked and locked the device for this PC.
  window.ScanFrom({static_cast<int>(snapshot.handle), snapshot.deviceNumber, computerName_,
                   computerName_, true},
                  scanNameTwain);
  lockHeld = window.Core().ScanLockHeld();
  return true;
}

void ScanNowPaths::RunWia(const DeviceData& snapshot, const std::string& wiaDeviceId) {
  if (!wiaDevice_) {
    wiaDevice_ = std::make_unique<TWiaDeviceDlg>(owner_);
    wiaSet_ = std::make_unique<TNetWIASetFm>(
        ui_, FolderOf(QStandardPaths::PicturesLocation, "Pictures"), owner_);
    wiaSave_ = std::make_unique<TNetWIASaveFm>(ui_, owner_);
  }
  wia::ScannerWiaDeviceManager manager(Scanners());
  WiaFormsSession session(*wiaDevice_, *wiaSet_, *wiaSave_, ui_);
  wia::WiaScanner scanner(session);
  scanner.OpenWiaDeviceManager(&manager);
  const std::string name = wia::ScannerNameForDevice(wiaDeviceId, snapshot.serverIp);
  while (scanner.RunWiaScanSession(name) == wia::kScanAgain) {}
  scanner.CloseWiaDeviceManager();
}

}  // namespace tessaro
