// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/pages/PdfBuilder.h"

#include <hpdf.h>

#include "base/AtomicFile.h"

namespace tessaro {

PdfBuilder::PdfBuilder() : doc_(HPDF_New(&PdfBuilder::OnError, this)) {}

PdfBuilder::~PdfBuilder() {
  if (doc_ != nullptr) HPDF_Free(static_cast<HPDF_Doc>(doc_));
}

// The library reports through this and then returns an error code; failed_ keeps the news for
// the call in progress.
void PdfBuilder::OnError(unsigned long /*error*/, unsigned long /*detail*/, void* self) {
  static_cast<PdfBuilder*>(self)->failed_ = true;
}

bool PdfBuilder::AddJpegPage(const std::string& jpegFile, int32_t width, int32_t height) {
  if (!ok() || width <= 0 || height <= 0) return false;
  auto* doc = static_cast<HPDF_Doc>(doc_);
  HPDF_Image image = HPDF_LoadJpegImageFromFile(doc, jpegFile.c_str());
  if (image == nullptr || failed_) return false;
  HPDF_Page page = HPDF_AddPage(doc);
  if (page == nullptr || failed_) return false;
  const auto w = static_cast<HPDF_REAL>(width);
  const auto h = static_cast<HPDF_REAL>(height);
  if (HPDF_Page_SetWidth(page, w) != HPDF_OK || HPDF_Page_SetHeight(page, h) != HPDF_OK ||
      HPDF_Page_DrawImage(page, image, 0, 0, w, h) != HPDF_OK) {
    return false;
  }
  ++pages_;
  return true;
}

bool PdfBuilder::Save(const std::string& path, bool replace) {
  if (!ok()) return false;
  PendingFile file(path);
  if (!file.ok() || !file.CloseTemp()) return false;
  if (HPDF_SaveToFile(static_cast<HPDF_Doc>(doc_), file.tempPath().c_str()) != HPDF_OK || failed_) {
    return false;
  }
  // The caller deletes the pages' only other copies once this returns true, so the name must
  // outlast a crash too, not only the bytes.
  return file.Commit(replace) && SyncFolderOf(path);
}

}  // namespace tessaro
