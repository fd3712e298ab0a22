// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/wia/WiaTransfer.h"

#include <unistd.h>

#include <cstdio>

#include "scanning/pages/JpegCodec.h"
#include "scanning/wia/WiaTexts.h"

namespace tessaro::wia {

CWiaDataCallback* CWiaDataCallback::Create(TNetWIASaveCore& owner) {
  return new CWiaDataCallback(owner);
}

HResult CWiaDataCallback::QueryInterface(Iid iid, WiaDataCallback** out) {
  if (out == nullptr) return kPointer;
  if (iid == Iid::Unknown || iid == Iid::WiaDataCallback) {
    *out = this;
    AddRef();
    return kOk;
  }
  *out = nullptr;
  return kNoInterface;
}

uint32_t CWiaDataCallback::AddRef() { return ++count_; }

uint32_t CWiaDataCallback::Release() {
  const uint32_t left = --count_;
  if (left == 0) delete this;
  return left;
}

HResult CWiaDataCallback::BandedDataCallback(int32_t message, int32_t, int32_t percentComplete) {
  return owner_.Progress(message, percentComplete);
}

TNetWIASaveCore::TNetWIASaveCore(WiaTransferView& view, WiaTransferJob job)
    : view_(view), job_(std::move(job)) {}

void TNetWIASaveCore::Show() {
  view_.SetLocation("");
  view_.SetFileName("");
  view_.SetScanProgress(0, "0%");
  view_.SetSaveProgress(0, 100);
  view_.ShowCancelLabel("");
  cancelRequested_ = false;
  pageStarted_ = false;
  files_.clear();
  encodings_.clear();
}

void TNetWIASaveCore::CancelClick() {
  view_.ShowCancelLabel(kCancellingScan);
  cancelRequested_ = true;
}

HResult TNetWIASaveCore::Progress(int32_t message, int32_t percent) {
  if (message == kMsgStatus) {
    view_.ProcessPendingEvents();
    if (!pageStarted_) {
      view_.SetScanProgress(0, "0%");
      pageStarted_ = true;
    }
    view_.SetScanProgress(percent, std::to_string(percent) + "% complete");
    view_.ProcessPendingEvents();
  }
  return cancelRequested_ ? kFalse : kOk;
}

std::string JpegNameOf(const std::string& bmp) { return bmp.substr(0, bmp.size() - 4) + ".jpg"; }

std::string TNetWIASaveCore::Suffix(int32_t page) const {
  if (page == 0) return {};
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "_%03d", page);
  return suffix;
}

void TNetWIASaveCore::Run() {
  CWiaDataCallback* created = CWiaDataCallback::Create(*this);
  WiaDataCallback* callback = nullptr;
  const HResult queried =
      created->QueryInterface(CWiaDataCallback::Iid::WiaDataCallback, &callback);
  created->Release();
  if (queried != kOk) {
    view_.Finished(true);
    return;
  }
  jpegChosen_ = job_.settings.extension == ".jpg";
  transferExt_ = job_.jpegFormat && jpegChosen_ ? ".jpg" : ".bmp";
  view_.SetLocation(job_.settings.folder);
  TransferPages(*callback);
  static_cast<CWiaDataCallback*>(callback)->Release();
  ConvertPages();
  view_.Finished(!cancelRequested_);
}

void TNetWIASaveCore::TransferPages(WiaDataCallback& callback) {
  const std::string stem = job_.settings.folder + job_.settings.baseName;
  for (int32_t i = 0; !cancelRequested_; ++i) {
    const std::string suffix = Suffix(i);
    view_.SetFileName(job_.settings.baseName + suffix + (jpegChosen_ ? ".jpg" : transferExt_));
    const std::string file = stem + suffix + transferExt_;
    if (job_.settings.replaceExisting) unlink(file.c_str());
    const HResult result = job_.item->GetData(file, callback);
    if (result == kOk) {
      files_.push_back(file);
      if (NeedsConversion()) StartEncoding(file);
      view_.SetScanProgress(100, "100% complete");
      pageStarted_ = false;
      view_.ShowPreview(file);
    } else if (result == kFalse) {
      view_.ShowMessage(kScanCancelled);
      pageStarted_ = false;
      view_.ShowCancelLabel(kCancelledScan);
      // A cancelled run offers no "< Back", as one cancelled with the button.
      cancelRequested_ = true;
      break;
    } else if (result == kErrorPaperEmpty && i > 0) {
      view_.SetFileName(job_.settings.baseName + Suffix(i - 1) + transferExt_);
      pageStarted_ = false;
      break;
    } else if (result == kErrorPaperEmpty) {
      view_.ShowMessage(kFeederEmpty);
    } else {
      cancelRequested_ = true;
    }
    const uint32_t status = job_.item->DocumentHandlingStatus();
    if (cancelRequested_ || status != kFeedReady || (job_.documentHandling & kFlatbed)) break;
  }
}

bool TNetWIASaveCore::NeedsConversion() const { return jpegChosen_ && !job_.jpegFormat; }

// The JPEG of a page is made and put in place while the next page is scanned. A file of that
// name that came meanwhile is never replaced unasked: the BMP then stays.
void TNetWIASaveCore::StartEncoding(const std::string& bmp) {
  const int32_t dpi = job_.resolution;
  const bool replace = job_.settings.replaceExisting;
  encodings_.push_back(std::async(std::launch::async, [bmp, dpi, replace] {
    const std::string jpeg = JpegNameOf(bmp);
    JpegEncoder encoder;
    auto encoded = EncodeBmpFile(encoder, bmp, jpeg, dpi);
    if (!encoded) return false;
    if (replace) unlink(jpeg.c_str());
    if (!encoded->file->Commit(false)) return false;
    unlink(bmp.c_str());
    return true;
  }));
}

void TNetWIASaveCore::ConvertPages() {
  if (files_.empty()) return;
  const auto pages = static_cast<int32_t>(files_.size());
  view_.SetSaveProgress(0, pages);
  if (!NeedsConversion()) {
    view_.SetSaveProgress(pages, pages);
    return;
  }
  for (std::size_t j = 0; j < files_.size(); ++j) {
    const std::string jpeg = JpegNameOf(files_[j]);
    if (encodings_[j].get())
      files_[j] = jpeg;
    else
      view_.ShowMessage(std::string(SFile_Save_Err) + jpeg);
    view_.SetSaveProgress(static_cast<int32_t>(j + 1), pages);
    view_.ProcessPendingEvents();
  }
  encodings_.clear();
}

}  // namespace tessaro::wia
