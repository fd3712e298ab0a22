// SPDX-License-Identifier: GPL-2.0-or-later
// The two scan paths of Scan Now as the tray client runs them: the TWAIN scan window over this
// program's data source manager, and the WIA sessions with their three dialogs. Both reach the
// scanners through one SANE source, made on the first scan (SANE starts once per process).
#pragma once

#include <QString>
#include <memory>
#include <string>

#include "driver/DriverClient.h"
#include "platform/MainThread.h"
#include "platform/UiPort.h"
#include "scanning/wia/ScanNow.h"

class QWidget;

namespace tessaro {

class SaneScannerSource;
class TNetScanFm;
class TNetWIASaveFm;
class TNetWIASetFm;
class TSourceDialog;
class TWiaDeviceDlg;
namespace twain {
class TwainManager;
}

class ScanNowPaths : public ScanPaths {
 public:
  ScanNowPaths(UiPort& ui, MainThread& mainThread, DriverClient& driver, std::string computerName,
               QWidget* owner);
  ~ScanNowPaths() override;

  bool TwainReady() override;
  bool RunTwain(const DeviceData& snapshot, const std::string& scanNameTwain,
                bool& lockHeld) override;
  void RunWia(const DeviceData& snapshot, const std::string& wiaDeviceId) override;

 private:
  class DriverScanLock;
  SaneScannerSource& Scanners();
  TNetScanFm& ScanWindow();

  UiPort& ui_;
  MainThread& mainThread_;
  QWidget* owner_;
  std::string computerName_;
  std::string windowsFolder_;
  std::unique_ptr<DriverScanLock> lock_;
  std::unique_ptr<SaneScannerSource> scanners_;
  std::unique_ptr<twain::TwainManager> manager_;
  std::unique_ptr<TSourceDialog> sourceDialog_;
  std::unique_ptr<TNetScanFm> scanWindow_;
  std::unique_ptr<TWiaDeviceDlg> wiaDevice_;
  std::unique_ptr<TNetWIASetFm> wiaSet_;
  std::unique_ptr<TNetWIASaveFm> wiaSave_;
  bool twainReady_ = false;
};

}  // namespace tessaro
