// SPDX-License-Identifier: GPL-2.0-or-later
// A PDF of scanned pages through libharu: one page per JPEG, one point per pixel, the JPEG
// data embedded as they are.
#pragma once

#include <cstdint>
#include <string>

namespace tessaro {

class PdfBuilder {
 public:
  PdfBuilder();
  PdfBuilder(const PdfBuilder&) = delete;
  PdfBuilder& operator=(const PdfBuilder&) = delete;
  ~PdfBuilder();

  bool ok() const { return doc_ != nullptr && !failed_; }
  // Adds a page of `width` × `height` points filled by the JPEG file; false when the library
  // refuses the image or the page (it cannot make a side longer than 14400 points).
  bool AddJpegPage(const std::string& jpegFile, int32_t width, int32_t height);
  int pageCount() const { return pages_; }
  // Writes the document as `path`, whole or not at all, never over an existing file unless
  // `replace`. True only once it is on disk: its bytes flushed, its name given and the folder
  // holding that name flushed too.
  bool Save(const std::string& path, bool replace);

 private:
  static void OnError(unsigned long error, unsigned long detail, void* self);
  void* doc_ = nullptr;
  bool failed_ = false;
  int pages_ = 0;
};

}  // namespace tessaro
