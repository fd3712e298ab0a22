// SPDX-License-Identifier: GPL-2.0-or-later
// The logic of the progress dialog TNetWIASaveFm: the pages of one transfer run written straight
// into their files (Picture.jpg, Picture_001.jpg, ...), progress through the data callback, which
// can cancel, and BMP pages made JPEG afterwards when the device could not deliver JPEG.
#pragma once

#include <atomic>
#include <cstdint>
#include <future>
#include <string>
#include <vector>

#include "scanning/wia/WiaDevice.h"
#include "scanning/wia/WiaSettings.h"

namespace tessaro::wia {

// What the dialog shows; every call comes on the main thread.
class WiaTransferView {
 public:
  virtual ~WiaTransferView() = default;
  virtual void SetLocation(const std::string& folder) = 0;
  virtual void SetFileName(const std::string& name) = 0;
  virtual void SetScanProgress(int32_t percent, const std::string& label) = 0;
  virtual void ShowPreview(const std::string& file) = 0;
  virtual void ShowCancelLabel(const std::string& text) = 0;
  virtual void SetSaveProgress(int32_t position, int32_t max) = 0;
  // The run is over: Cancel reads "Close", "< Back" enabled or not.
  virtual void Finished(bool backEnabled) = 0;
  virtual void ShowMessage(const std::string& text) = 0;
  virtual void ProcessPendingEvents() = 0;
};

struct WiaTransferJob {
  WiaItem* item = nullptr;
  WiaScanSettings settings;
  bool jpegFormat = false;  // the item delivers JPEG itself
  uint32_t documentHandling = 0;
  int32_t resolution = 0;  // the JFIF density of converted pages
};

class TNetWIASaveCore;

// The transfer's progress sink, reference counted as the transfer interface wants it.
class CWiaDataCallback : public WiaDataCallback {
 public:
  enum class Iid { Unknown, WiaDataCallback, Other };
  // Starts with one reference, which the creator releases.
  static CWiaDataCallback* Create(TNetWIASaveCore& owner);
  HResult QueryInterface(Iid iid, WiaDataCallback** out);
  uint32_t AddRef();
  uint32_t Release();
  HResult BandedDataCallback(int32_t message, int32_t status, int32_t percentComplete) override;

 private:
  explicit CWiaDataCallback(TNetWIASaveCore& owner) : owner_(owner) {}
  ~CWiaDataCallback() override = default;
  TNetWIASaveCore& owner_;
  std::atomic<uint32_t> count_{1};
};

class TNetWIASaveCore {
 public:
  TNetWIASaveCore(WiaTransferView& view, WiaTransferJob job);

  // Show: everything back to its start.
  void Show();
  // The timer's work: the whole transfer run, then the conversion.
  void Run();
  // Cancel while the run goes: the run stops at the next progress report.
  void CancelClick();
  bool CancelRequested() const { return cancelRequested_; }
  // The files the run leaves, one per page, in page order.
  const std::vector<std::string>& Files() const { return files_; }
  // A progress report of the current page; kFalse once cancelled.
  HResult Progress(int32_t message, int32_t percent);

 private:
  std::string Suffix(int32_t page) const;
  void TransferPages(WiaDataCallback& callback);
  bool NeedsConversion() const;
  void StartEncoding(const std::string& bmp);
  void ConvertPages();

  WiaTransferView& view_;
  WiaTransferJob job_;
  bool cancelRequested_ = false;
  bool pageStarted_ = false;
  bool jpegChosen_ = false;
  std::string transferExt_;
  std::vector<std::string> files_;
  // One per page to be made JPEG, in page order: whether its JPEG took the BMP's place.
  std::vector<std::future<bool>> encodings_;
};

// The name a BMP page's JPEG takes: the same with ".jpg".
std::string JpegNameOf(const std::string& bmp);

}  // namespace tessaro::wia
