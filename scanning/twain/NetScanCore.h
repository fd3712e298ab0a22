// SPDX-License-Identifier: GPL-2.0-or-later
// The TWAIN scan window's logic without a widget: the group's name, the scan lock, the
// resolution limit, every page's file and preview, navigation, zoom, the idle unlock and the
// hand-off to the saving thread. The form (scanning/ui) shows what this decides.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/MainThread.h"
#include "platform/UiPort.h"
#include "scanning/pages/SaveScanningThread.h"
#include "scanning/twain/ScanTexts.h"
#include "scanning/twain/ScanWindowRules.h"
#include "scanning/twain/TwainScanner.h"

namespace tessaro::twain {

inline constexpr char kScanWindowCaption[] = "Welcome to the Auto-Connect Scanner";
inline constexpr char SFile_Open_Err[] = "Can't open file : ";
inline constexpr char SNo_Resolution[] =
    "Sorry, this resolution can not be supported by this application.";
inline constexpr char kScanningNote[] = "Please wait while the wizard scans your pictures.";
inline constexpr int kIdleUnlockMs = 180000;
inline constexpr int kSaveFilePollMs = 400;

// The scanner's scan lock (LockKind 1) through the bus driver.
class ScanLockPort {
 public:
  virtual ~ScanLockPort() = default;
  virtual bool LockDevice(int busHandle, const std::string& deviceNumber, uint32_t seconds) = 0;
  virtual bool UnlockDevice(int busHandle, const std::string& deviceNumber) = 0;
};

// What the form shows; every call comes on the main thread.
class NetScanView {
 public:
  virtual ~NetScanView() = default;
  // Loads a page file into the preview; its size and bit depth, or nullopt when it cannot be.
  struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bits = 24;
  };
  virtual std::optional<Picture> LoadPreview(const std::string& file) = 0;
  virtual void ClearPreview() = 0;
  virtual void ShowNote(const std::string& text) = 0;
  // PageLabel "No. n Page.", and the folder and name of `file` when it is not empty.
  virtual void ShowPageLabel(int32_t page, const std::string& file) = 0;
  virtual void ShowIndex(int32_t index, int32_t total) = 0;
  virtual void ShowPictureTexts(const PictureTexts& texts) = 0;
  // Scan, Close and the whole window.
  virtual void SetInputEnabled(bool enabled) = 0;
  virtual void SetNavigationEnabled(bool enabled) = 0;
  virtual void SetBusyCursor(bool busy) = 0;
  virtual void ShowSavingWindow(bool shown) = 0;
  virtual void SetSaveProgress(int32_t saved, int32_t pages) = 0;
  virtual void CloseWindow() = 0;
};

struct ScanSessionInfo {
  int busHandle = -1;
  std::string deviceNumber = "-1";
  std::string owner;         // the scanner's user as the device list shows it
  std::string computerName;  // this PC
  bool lockHeld = false;
};

class TNetScanCore : public ScanSaveHost {
 public:
  TNetScanCore(TTwainScanner& twain, NetScanView& view, UiPort& ui, MainThread& mainThread,
               ScanLockPort& lock, std::string pdfTempBase);
  ~TNetScanCore() override;

  // Scan Now's hand-over before the window is shown.
  void SetSession(const ScanSessionInfo& session) { session_ = session; }
  bool ScanLockHeld() const { return session_.lockHeld; }

  // Scan, with the group name, the format index (0 JPG, 1 BMP, 2 PDF) and the folder (ending
  // with "/").
  void ScanBtnClick(const std::string& name, int formatIndex, const std::string& folder);
  void TwainScanStart();
  void TwainScanReady();
  void TwainScanCancel();
  void TwainScanClose();
  void NBtnClick() { ShowPage(NextPage(pageIndex_, pageCount_)); }
  void PBtnClick() { ShowPage(PreviousPage(pageIndex_, pageCount_)); }
  void ShowPage(int32_t index);
  // "Save this picture as" to `chosen` (empty when the dialog was cancelled): the page shown,
  // stamped with its own resolution.
  void SaveBtnClick(const std::string& chosen);
  void TimeoutTimerTimer();
  void SaveFileTimerTimer();
  void FormClose();

  bool TimeoutTimerRunning() const { return idleTimerOn_; }
  bool SaveFileTimerRunning() const { return saveTimerOn_; }
  const std::string& TargetFileNameText() const { return targetFileName_; }
  int32_t PageCount() const { return pageCount_; }
  int32_t PageIndex() const { return pageIndex_; }
  // The resolution of the page shown, stamped into "Save this picture as" files.
  int32_t ShownPageDpi() const { return shownDpi_; }

  // ScanSaveHost.
  std::string TargetFileName() const override { return targetFileName_; }
  std::string PdfTempBase() const override { return pdfTempBase_; }
  void SetPdfPagesPending(std::vector<std::string> createdFiles) override;
  void EnableNavigation() override;
  void SaveCompleted(bool anyFailed) override;

 private:
  void ResetDisplay();
  void StartSaving(int32_t bits);  // hands the group's pages to the saving thread
  void BackToIdle();
  void DeletePendingPdfPages();
  void Message(const std::string& text, uint32_t flags, bool titled);
  std::string PageFile(int32_t page, const std::string& ext) const;

  TTwainScanner& twain_;
  NetScanView& view_;
  UiPort& ui_;
  MainThread& main_;
  ScanLockPort& lock_;
  ScanSessionInfo session_;
  std::string targetFileName_;
  // The user agreed to write over the group's existing files.
  bool overwriteAgreed_ = false;
  std::string pdfTempBase_;
  int32_t pageCount_ = 0;
  int32_t pageIndex_ = 0;
  int32_t shownDpi_ = 0;
  std::string shownFile_;
  TW_IMAGEINFO imageInfo_{};
  std::vector<std::string> pdfPagesPending_;
  bool idleTimerOn_ = false;
  bool saveTimerOn_ = false;
  std::unique_ptr<TSaveScanningThread> saving_;
};

}  // namespace tessaro::twain
