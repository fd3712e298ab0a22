// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/twain/NetScanCore.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>

#include "base/Product.h"
#include "scanning/pages/ImageFormats.h"
#include "scanning/pages/PageNames.h"
#include "scanning/twain/GlobalBlock.h"
#include "scanning/twain/PictureExport.h"

namespace tessaro::twain {
namespace {

constexpr std::array<const char*, 3> kFormats = {"jpg", "bmp", "pdf"};
constexpr uint32_t kScanLockSeconds = 1200;
constexpr char kScanStoppedText[] = "The scan stopped before its last page: ";

bool FileExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

// A BMP page's resolution: its vertical pels per metre in inches, truncated.
int32_t BmpFileDpi(const std::string& file) {
  uint8_t header[46] = {};
  FILE* in = std::fopen(file.c_str(), "rb");
  if (in == nullptr) return 0;
  const bool read = std::fread(header, 1, sizeof header, in) == sizeof header;
  std::fclose(in);
  if (!read) return 0;
  const auto pels = static_cast<int32_t>(uint32_t{header[42]} | uint32_t{header[43]} << 8 |
                                         uint32_t{header[44]} << 16 | uint32_t{header[45]} << 24);
  return static_cast<int32_t>(pels * 0.0254000508001016);
}

}  // namespace

TNetScanCore::TNetScanCore(TTwainScanner& twain, NetScanView& view, UiPort& ui,
                           MainThread& mainThread, ScanLockPort& lock, std::string pdfTempBase)
    : twain_(twain), view_(view), ui_(ui), main_(mainThread), lock_(lock),
      pdfTempBase_(std::move(pdfTempBase)) {
  twain_.OnScanStart = [this](TTwainScanner&) { TwainScanStart(); };
  twain_.OnScanReady = [this](TTwainScanner&) { TwainScanReady(); };
  twain_.OnScanCancel = [this](TTwainScanner&) { TwainScanCancel(); };
  twain_.OnScanClose = [this](TTwainScanner&) { TwainScanClose(); };
}

TNetScanCore::~TNetScanCore() {
  twain_.OnScanStart = twain_.OnScanReady = twain_.OnScanCancel = twain_.OnScanClose = nullptr;
}

void TNetScanCore::Message(const std::string& text, uint32_t flags, bool titled) {
  ui_.ShowMessage(MessageRequest{titled ? kScanWindowCaption : ProductName, text, flags});
}

void TNetScanCore::ResetDisplay() {
  view_.ClearPreview();
  view_.ShowNote("");
  view_.ShowIndex(0, 0);
  view_.ShowPageLabel(0, "");
  view_.ShowPictureTexts(PictureTexts{});
}

void TNetScanCore::BackToIdle() {
  view_.SetInputEnabled(true);
  idleTimerOn_ = true;
}

void TNetScanCore::ScanBtnClick(const std::string& name, int formatIndex,
                                const std::string& folder) {
  if (name.empty()) return Message(SNo_PFile_Name, mb::kOk, false);
  if (folder.empty()) return Message(SNo_PFile_Path, mb::kOk, false);
  const std::string ext = kFormats.at(static_cast<std::size_t>(std::clamp(formatIndex, 0, 2)));
  const std::string stem = folder + name;
  targetFileName_ = stem + "." + ext;
  if (targetFileName_.size() > 250) {
    return Message(std::string(SFile_Save_Err) + "\n\n" + targetFileName_, mb::kOk, false);
  }
  overwriteAgreed_ = false;
  if (const auto free = FindFreeTarget(stem, ext, FileExists)) {
    targetFileName_ = *free;
  } else if (ui_.ShowMessage({kScanWindowCaption, SFile_Open_Exist, mb::kYesNo}) != answer::kYes) {
    return;
  } else {
    overwriteAgreed_ = true;
  }
  if (!session_.lockHeld) {
    if (session_.owner != session_.computerName ||
        !lock_.LockDevice(session_.busHandle, session_.deviceNumber, kScanLockSeconds)) {
      Message(STimeout, mb::kOk, false);
      view_.CloseWindow();
      return;
    }
    session_.lockHeld = true;
  }
  idleTimerOn_ = false;
  view_.SetInputEnabled(false);
  view_.SetNavigationEnabled(false);
  pageCount_ = pageIndex_ = 0;
  view_.ShowIndex(0, 0);
  try {
    twain_.Acquire(nullptr);
  } catch (const std::exception& error) {
    // No manager in this process, or none that would open: say so instead of ending.
    Message(error.what(), mb::kIconWarning, true);
  }
  if (twain_.IsDataSourceEnabled()) {
    view_.ShowNote(kScanningNote);
    DeletePendingPdfPages();
    return;
  }
  if (twain_.IsDataSourceOpen()) twain_.CloseDataSource();
  ResetDisplay();
  BackToIdle();
}

void TNetScanCore::TwainScanStart() {
  if (twain_.GetImageInfo(imageInfo_) != TWRC_SUCCESS) return;
  const auto start = ResolutionTarget(Fix32ToInt(imageInfo_.XResolution), imageInfo_.BitsPerPixel);
  if (!start) return;
  int32_t target = *start;
  bool accepted = false;
  while (!accepted && target >= 100) {
    imageInfo_.XResolution = imageInfo_.YResolution = IntToFix32(target);
    twain_.SetImageInfo(imageInfo_);
    twain_.GetImageInfo(imageInfo_);
    accepted = Fix32ToInt(imageInfo_.XResolution) == target &&
               Fix32ToInt(imageInfo_.YResolution) == target;
    if (!accepted) target -= 50;
  }
  if (accepted) return;
  twain_.SetCanel(true);
  Message(SNo_Resolution, mb::kIconInformation | mb::kTopMost, true);
  BackToIdle();
}

std::string TNetScanCore::PageFile(int32_t page, const std::string& ext) const {
  const TargetParts parts = SplitTarget(targetFileName_);
  const std::string& base = parts.format == SaveFormat::Pdf ? pdfTempBase_ : parts.base;
  return PageFileName(base, page, ext);
}

void TNetScanCore::TwainScanReady() {
  TW_HANDLE page = twain_.GetBmpHandle();
  if (page == nullptr) {
    // A batch that broke off (jammed, device gone) still has the pages before: they are saved
    // in the chosen format like any others, and the user hears why the scan stopped.
    const bool failed = twain_.LastTransferCondition() != TWCC_SUCCESS;
    if (failed && twain_.IsLastPage()) {
      Message(kScanStoppedText + Condition2String(twain_.LastTransferCondition()), mb::kOk, false);
    }
    if (pageCount_ == 0) {
      ResetDisplay();
    } else if (twain_.IsLastPage()) {
      StartSaving(imageInfo_.BitsPerPixel);
    }
    return;
  }
  const int32_t k = ++pageCount_;
  const std::string file = PageFile(k, ".bmp");
  // Later pages' names were not part of the free-name search: a file already there is the
  // user's and stays, unless the user agreed to write over the group.
  const bool written = WriteBmpFile(page, file, overwriteAgreed_);
  GlobalBlockFree(page);
  if (!written) {
    pageCount_ = 0;
    ResetDisplay();
    Message(SFile_Open_Err + file, mb::kOk, false);
    // No saving follows to give the window back, so the end of the pages does.
    if (twain_.IsLastPage()) BackToIdle();
    return;
  }
  const auto picture = view_.LoadPreview(file);
  if (!picture) Message(SFile_Open_Err + file + " !", mb::kOk, false);
  if (picture) shownFile_ = file;
  view_.ShowIndex(k, k);
  const int32_t bits = imageInfo_.BitsPerPixel;
  shownDpi_ = Fix32ToInt(imageInfo_.XResolution);
  if (picture)
    view_.ShowPictureTexts(DescribePicture(picture->width, picture->height, bits, shownDpi_));
  const TargetParts parts = SplitTarget(targetFileName_);
  if (parts.format == SaveFormat::Jpg) {
    view_.ShowPageLabel(k, PageFileName(parts.base, k, ".jpg"));
  } else if (parts.format == SaveFormat::Pdf) {
    view_.ShowPageLabel(k, targetFileName_);
  } else {
    view_.ShowPageLabel(k, file);
  }
  view_.SetBusyCursor(true);
  if (twain_.IsLastPage()) StartSaving(bits);
}

void TNetScanCore::StartSaving(int32_t bits) {
  view_.ShowSavingWindow(true);
  view_.SetSaveProgress(0, pageCount_);
  SaveOptions options;
  options.replaceExisting = overwriteAgreed_;
  saving_ = std::make_unique<TSaveScanningThread>(*this, main_, ui_,
                                                  SaveRun{pageCount_, shownDpi_, bits}, options);
  saving_->Start();
  saveTimerOn_ = true;
}

void TNetScanCore::SaveFileTimerTimer() {
  if (!saving_) return;
  view_.SetSaveProgress(saving_->PagesDone(), pageCount_);
  if (!saving_->Finished()) return;
  saving_.reset();
  view_.ShowSavingWindow(false);
  saveTimerOn_ = false;
  if (twain_.IsDataSourceEnabled()) twain_.DisableDataSource();
  if (twain_.IsDataSourceOpen()) twain_.CloseDataSource();
}

void TNetScanCore::EnableNavigation() { view_.SetNavigationEnabled(true); }

void TNetScanCore::SaveCompleted(bool anyFailed) {
  pageIndex_ = 0;
  if (!anyFailed) ShowPage(0);
  view_.ShowNote(" " + std::to_string(pageCount_) + " picture(s) were scanned.");
  view_.SetBusyCursor(false);
  BackToIdle();
}

void TNetScanCore::SetPdfPagesPending(std::vector<std::string> createdFiles) {
  pdfPagesPending_ = std::move(createdFiles);
}

void TNetScanCore::DeletePendingPdfPages() {
  // Only the previews a run created itself: a name that was taken is someone else's file.
  for (const auto& file : pdfPagesPending_) ::unlink(file.c_str());
  pdfPagesPending_.clear();
}

void TNetScanCore::TwainScanCancel() {
  if (pageCount_ > 2) view_.SetNavigationEnabled(true);
  // Pages saved after a failed batch give the window back when they are done.
  if (!saving_) BackToIdle();
}

void TNetScanCore::TwainScanClose() { BackToIdle(); }

void TNetScanCore::ShowPage(int32_t index) {
  if (pageCount_ <= 0) return;
  pageIndex_ = index;
  const TargetParts parts = SplitTarget(targetFileName_);
  std::string file;
  int32_t dpi = 0;
  if (parts.format == SaveFormat::Bmp) {
    file = PageFileName(parts.base, index + 1, ".bmp");
  } else {
    file = PageFile(index + 1, ".jpg");
  }
  const auto picture = view_.LoadPreview(file);
  if (!picture) {
    Message(SFile_Open_Err + file + " .", mb::kOk, false);
    return;
  }
  dpi = parts.format == SaveFormat::Bmp ? BmpFileDpi(file) : ReadJfifDensity(file);
  shownDpi_ = dpi;
  shownFile_ = file;
  view_.ShowIndex(index + 1, pageCount_);
  view_.ShowPageLabel(index + 1, parts.format == SaveFormat::Pdf ? targetFileName_ : file);
  view_.ShowPictureTexts(DescribePicture(picture->width, picture->height, picture->bits, dpi));
}

void TNetScanCore::SaveBtnClick(const std::string& chosen) {
  if (chosen.empty() || shownFile_.empty()) return;
  const bool exists = FileExists(chosen);
  if (exists &&
      ui_.ShowMessage({kScanWindowCaption, SFile_Open_Exist, mb::kYesNo}) != answer::kYes) {
    return;
  }
  view_.ShowSavingWindow(true);
  if (ExportPicture(shownFile_, chosen, shownDpi_, exists) == ExportResult::kFailed) {
    Message(SFile_Save_Err + chosen, mb::kOk, false);
  }
  view_.ShowSavingWindow(false);
}

void TNetScanCore::TimeoutTimerTimer() {
  if (session_.lockHeld && lock_.UnlockDevice(session_.busHandle, session_.deviceNumber)) {
    session_.lockHeld = false;
  }
  idleTimerOn_ = false;
}

void TNetScanCore::FormClose() {
  DeletePendingPdfPages();
  view_.ClearPreview();
  if (twain_.IsDataSourceEnabled()) twain_.DisableDataSource();
  if (twain_.IsDataSourceOpen()) twain_.CloseDataSource();
  idleTimerOn_ = false;
}

}  // namespace tessaro::twain
