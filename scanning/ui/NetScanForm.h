// SPDX-License-Identifier: GPL-2.0-or-later
// The TWAIN scan window: the group's name, format and folder on the left, the preview with its
// zoom bar on the right. Every decision is TNetScanCore's; this form shows and forwards.
#pragma once

#include <QDialog>
#include <QImage>
#include <QTimer>
#include <memory>
#include <string>

#include "scanning/twain/NetScanCore.h"
#include "scanning/twain/TwainScanner.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QToolButton;

namespace tessaro {

class TSaveFileFm;

struct NetScanSetup {
  std::string windowsDirectory;  // the emulated Windows folder (WIN.INI, TWAIN_32)
  std::string documentsFolder;   // where a PDF group's page files go
  std::string picturesFolder;    // the default destination, ending with "/"
};

class TNetScanFm : public QDialog, public twain::NetScanView, public twain::TwainHost {
 public:
  TNetScanFm(UiPort& ui, MainThread& mainThread, twain::ScanLockPort& lock, NetScanSetup setup,
             QWidget* owner = nullptr);
  ~TNetScanFm() override;

  twain::TTwainScanner& Twain() { return *twain_; }
  twain::TNetScanCore& Core() { return *core_; }
  bool TwainReady() const { return twainReady_; }
  // Scan Now's way in: the session it linked and locked, the source it chose, the idle unlock
  // counted from now; the window stays until the user closes it.
  void ScanFrom(const twain::ScanSessionInfo& session, const std::string& sourceName);

  QLineEdit* FileNameEdit;
  QComboBox* FileFmtComboBox;
  QLineEdit* FilePathEdit;
  QPushButton* ScanBtn;
  QPushButton* CloseBtn;
  QLabel* SrcLabel;
  QLabel* NoteSText;
  QLabel* PageLabel;
  QLineEdit* LocationEdit;
  QLabel* InfoSText_FileName;
  QLabel *InfoSText_Pixel, *InfoSText_CM, *InfoSText_Res, *InfoSText_Bits, *InfoSText_FSize;
  QLabel *IndexLabel, *TotalLabel, *ScaleLabel;
  QToolButton *PBtn, *NBtn, *ZInTBtn, *ZOutTBtn, *OPSizeTBtn, *ActualTBtn, *SaveBtn;
  QScrollArea* ScrollBox;
  QLabel* ScanImage;
  QTimer TimeoutTimer;
  QTimer SaveFileTimer;

  // NetScanView.
  std::optional<Picture> LoadPreview(const std::string& file) override;
  void ClearPreview() override;
  void ShowNote(const std::string& text) override;
  void ShowPageLabel(int32_t page, const std::string& file) override;
  void ShowIndex(int32_t index, int32_t total) override;
  void ShowPictureTexts(const twain::PictureTexts& texts) override;
  void SetInputEnabled(bool enabled) override;
  void SetNavigationEnabled(bool enabled) override;
  void SetBusyCursor(bool busy) override;
  void ShowSavingWindow(bool shown) override;
  void SetSaveProgress(int32_t saved, int32_t pages) override;
  void CloseWindow() override;

  // TwainHost.
  uint32_t MainWindowHandle() override;
  std::string WindowsDirectory() override { return setup_.windowsDirectory; }
  twain::MessageHandler ReplaceMessageHandler(twain::MessageHandler handler) override;
  int ScreenCursor() override { return cursor().shape(); }
  void SetScreenCursor(int shape) override { setCursor(static_cast<Qt::CursorShape>(shape)); }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void ScanBtnClick();
  void SyncTimers();
  void Zoom(int32_t scale);
  void FitPreview();

  NetScanSetup setup_;
  std::unique_ptr<twain::TTwainScanner> twain_;
  std::unique_ptr<twain::TNetScanCore> core_;
  std::unique_ptr<TSaveFileFm> saving_;
  twain::MessageHandler messageHandler_;
  QTimer messagePump_;  // the message loop that carries the source's messages
  QImage picture_;
  int32_t scalePercent_ = 0;
  int32_t minScalePercent_ = 0;
  bool twainReady_ = false;
};

}  // namespace tessaro
