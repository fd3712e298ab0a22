// SPDX-License-Identifier: GPL-2.0-or-later
// The WIA path's forms: the device dialog (source, mode, resolution), the settings dialog
// TNetWIASetFm and the progress dialog TNetWIASaveFm. Each only shows its core
// (scanning/wia/WiaSettings.h, WiaTransfer.h) and forwards the user's clicks.
#pragma once

#include <QDialog>
#include <QTimer>
#include <memory>
#include <string>

#include "platform/UiPort.h"
#include "scanning/wia/WiaSession.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace tessaro {

class TWiaDeviceDlg : public QDialog, public wia::DeviceDialog {
 public:
  explicit TWiaDeviceDlg(QWidget* owner = nullptr);
  bool Run(const wia::DeviceOffer& offer, wia::DeviceChoices& choices) override;

  QComboBox* SourceBox;
  QComboBox* ModeBox;
  QSpinBox* ResolutionBox;
};

class TNetWIASetFm : public QDialog {
 public:
  TNetWIASetFm(UiPort& ui, std::string picturesFolder, QWidget* owner = nullptr);
  // The dialog's modal result: answer::kOk with `settings` filled, answer::kRetry, kCancel.
  int Run(wia::WiaScanSettings& settings);
  wia::TNetWIASetCore& Core() { return core_; }

  QLineEdit* FileNameEdit;
  QComboBox* FileFmtComboBox;
  QLineEdit* FilePathEdit;
  QPushButton* BrowseBtn;
  QPushButton* BackBtn;
  QPushButton* NextBtn;
  QPushButton* CancelBtn;

 private:
  void NextBtnClick();
  wia::TNetWIASetCore core_;
  wia::WiaScanSettings chosen_;
  int result_ = answer::kCancel;
};

class TNetWIASaveFm : public QDialog, public wia::WiaTransferView {
 public:
  explicit TNetWIASaveFm(UiPort& ui, QWidget* owner = nullptr);
  // Shows the dialog over `job` and runs its transfer; answer::kRetry for "< Back".
  int Run(const wia::WiaTransferJob& job);

  void SetLocation(const std::string& folder) override;
  void SetFileName(const std::string& name) override;
  void SetScanProgress(int32_t percent, const std::string& label) override;
  void ShowPreview(const std::string& file) override;
  void ShowCancelLabel(const std::string& text) override;
  void SetSaveProgress(int32_t position, int32_t max) override;
  void Finished(bool backEnabled) override;
  void ShowMessage(const std::string& text) override;
  void ProcessPendingEvents() override;

  QLineEdit* Edit_Location;
  QLineEdit* Edit_FileName;
  QProgressBar* ProgressBar_Scan;
  QLabel* Label_Percent;
  QLabel* Label_Cancel;
  QProgressBar* ProgressBar_Save;
  QLabel* ScanImage;
  QPushButton* CancelBtn;
  QPushButton* BackBtn;
  QTimer Timer;

 private:
  void CancelBtnClick();
  UiPort& ui_;
  std::unique_ptr<wia::TNetWIASaveCore> core_;
  bool finished_ = false;
  int result_ = answer::kCancel;
};

// A session's dialogs as the forms above.
class WiaFormsSession : public wia::WiaSessionUi {
 public:
  WiaFormsSession(TWiaDeviceDlg& device, TNetWIASetFm& settings, TNetWIASaveFm& transfer,
                  UiPort& ui)
      : device_(device), settings_(settings), transfer_(transfer), ui_(ui) {}
  wia::DeviceDialog& DeviceDialogOf() override { return device_; }
  int RunSettings(wia::WiaScanSettings& settings) override { return settings_.Run(settings); }
  int RunTransfer(const wia::WiaTransferJob& job) override { return transfer_.Run(job); }
  void ShowMessage(const std::string& text) override;

 private:
  TWiaDeviceDlg& device_;
  TNetWIASetFm& settings_;
  TNetWIASaveFm& transfer_;
  UiPort& ui_;
};

}  // namespace tessaro
