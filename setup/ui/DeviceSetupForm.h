// SPDX-License-Identifier: GPL-2.0-or-later
// TDeviceSetupFm: the device setup wizard's window. Seven pages without tabs, a title above them
// and the Next and Cancel buttons below; everything it shows comes from the wizard, and every
// click goes back to it.
#pragma once

#include <QDialog>
#include <QPoint>

#include "setup/DeviceSetup.h"

class QAbstractButton;
class QCheckBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QTreeWidget;

namespace tessaro {

// Where the wizard goes: its top on the owner's top, right of the owner when it fits before the
// screen's right edge, else left of it.
QPoint PlaceBesideOwner(const QRect& owner, const QSize& size, const QRect& screen);

class TDeviceSetupFm : public QDialog, public setup::SetupWindow {
 public:
  explicit TDeviceSetupFm(QWidget* owner);

  // Shows the run modally and returns how it ended.
  setup::RunEnd Run(setup::SetupWizard& wizard) override;
  // Shows the run without waiting (Run does this first); tests drive the form from here.
  void Attach(setup::SetupWizard& wizard);

  void reject() override;  // Cancel, Escape and the close box

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildInstallPage();
  void BuildCdRomPage();
  void BuildConnectPage();
  void BuildConnectScannerPage();
  void BuildAutoScanPage();
  void BuildAutoPrintPage();
  void BuildTroublePage();
  QTreeWidget* NewPrinterList(const char* name);
  QTreeWidget* NewScannerList(const char* name);

  void NextBtnClick();
  void OKBtnClick();
  void AddQueueClick();
  // Ends the modal run when the wizard has ended, else shows its state.
  void AfterAction();
  void Sync();
  void SyncButtons();
  void SyncPages();
  void SyncTrouble();
  void FillPrinterView(QTreeWidget* view);
  void FillScannerView(QTreeWidget* view);

  setup::SetupWizard* wizard_ = nullptr;
  QLabel* title_;
  QStackedWidget* pages_;
  QPushButton* next_;
  QPushButton* cancel_;
  // Install page.
  QLabel* installQuestion_;
  QLabel* installNote_;
  QRadioButton* installYes_;
  QRadioButton* installNo_;
  QPushButton* addQueue_;
  QLabel* addQueueResult_;
  // CD-ROM page.
  QLabel* cdNote_;
  // Connect page.
  QLabel* printerLabel_;
  QLabel* connectNote_;
  QCheckBox* supportScan_;
  QLabel* mfpScanLabel_;
  QTreeWidget* scanList_;
  // Connect-scanner page.
  QLabel* scannerLabel_;
  QLabel* scannerConfirm_;
  QTreeWidget* scanList3_;
  // Auto-scan and auto-print pages.
  QTreeWidget* scanList2_;
  QTreeWidget* printerList_;
  // Troubleshooting page.
  QRadioButton* trouble_[3];
  QWidget* troublePanel_[3];
  QLabel* troubleHelp_;
  QTreeWidget* printerList1_;
  QTreeWidget* scanList1_;
  QPushButton* troubleOk_;
  bool syncing_ = false;
};

}  // namespace tessaro
