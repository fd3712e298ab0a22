// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/wia/ScannerWiaDevice.h"

#include <cmath>
#include <cstring>

#include "base/AsciiText.h"
#include "scanning/twain/DibBuilder.h"
#include "scanning/twain/GlobalBlock.h"
#include "scanning/twain/ScanWindowRules.h"

namespace tessaro::wia {

namespace {

bool IsFeederChoice(const std::string& choice) {
  const std::string upper = UpperAsciiText(choice);
  return upper.find("FEEDER") != std::string::npos || upper.find("ADF") != std::string::npos;
}

class ScannerWiaItem : public WiaItem {
 public:
  explicit ScannerWiaItem(ScannerDevice& device) : device_(device) {
    const auto source = device_.GetText(scan_option::kSource);
    feeder_ = source && IsFeederChoice(*source);
  }
  ~ScannerWiaItem() override { EndBatch(); }

  HResult EnumFormats(std::vector<ImageFormat>& formats) override {
    formats = {ImageFormat::Bmp};
    return kOk;
  }
  void WriteFormat(ImageFormat format) override {
    if (format == ImageFormat::Bmp) format_ = format;
  }
  std::optional<ImageFormat> ReadFormat() override { return format_; }
  int32_t ReadResolution() override {
    const auto dpi = device_.GetNumber(scan_option::kResolution);
    return dpi && *dpi >= 1 && *dpi <= 100000 ? static_cast<int32_t>(std::lround(*dpi)) : 0;
  }
  std::optional<uint32_t> DocumentHandlingSelect() override { return feeder_ ? kFeeder : kFlatbed; }
  uint32_t DocumentHandlingStatus() override { return feeder_ && !feederEmpty_ ? kFeedReady : 0; }

  HResult GetData(const std::string& file, WiaDataCallback& callback) override {
    const HResult result = Transfer(file, callback);
    // A feeder's batch goes on with the next Start; anything else ends the frame here.
    if (result != kOk || !feeder_) EndBatch();
    return result;
  }

 private:
  // Ends a started batch once: SANE's net client, asked to cancel a second time over a
  // connection whose server has gone, frees memory it never had.
  void EndBatch() {
    if (!started_) return;
    started_ = false;
    device_.Cancel();
  }

  HResult Transfer(const std::string& file, WiaDataCallback& callback) {
    const ScanStatus started = device_.Start();
    // A failed start has begun a batch as much as a good one: both end with a cancel.
    started_ = true;
    if (started == ScanStatus::kNoDocuments) feederEmpty_ = true;
    if (started != ScanStatus::kGood) return ResultOfScanStatus(started);
    if (callback.BandedDataCallback(kMsgStatus, 0, 0) == kFalse) return kFalse;
    FrameParameters frame;
    const ScanStatus status = device_.GetParameters(frame);
    if (status != ScanStatus::kGood) return ResultOfScanStatus(status);
    const auto plan = twain::PlanDib(frame);
    if (!plan) return kErrorGeneral;
    const int32_t dpi = ReadResolution();
    twain::DibAssembler assembler(*plan, dpi);
    FrameRowReader reader(device_, frame.bytesPerLine);
    std::vector<uint8_t> row;
    int32_t rows = 0;
    int32_t shown = 0;
    for (;;) {
      const ScanStatus got = reader.NextRow(row);
      if (got == ScanStatus::kEndOfFrame) break;
      if (got != ScanStatus::kGood) return ResultOfScanStatus(got);
      if (!assembler.AddRow(row)) return kErrorGeneral;
      ++rows;
      const int32_t percent =
          frame.lines > 0 ? static_cast<int32_t>(int64_t{rows} * 99 / frame.lines) : 0;
      if (percent != shown) {
        shown = percent;
        if (callback.BandedDataCallback(kMsgStatus, 0, percent) == kFalse) return kFalse;
      }
    }
    twain::TW_HANDLE dib = assembler.Finish();
    if (dib == nullptr) return kErrorGeneral;
    const bool written = twain::WriteBmpFile(dib, file, false);
    twain::GlobalBlockFree(dib);
    return written ? kOk : kFail;
  }

  ScannerDevice& device_;
  bool feeder_ = false;
  bool feederEmpty_ = false;
  bool started_ = false;  // a batch is under way and needs its cancel
  std::optional<ImageFormat> format_;
};

class ScannerWiaRoot : public WiaRootItem {
 public:
  explicit ScannerWiaRoot(std::unique_ptr<ScannerDevice> device) : device_(std::move(device)) {}

  HResult DeviceDlg(DeviceDialog& dialog, std::unique_ptr<WiaItem>& chosen) override {
    DeviceOffer offer;
    std::string feederChoice;
    std::string flatbedChoice;
    for (const std::string& choice : device_->Choices(scan_option::kSource)) {
      if (IsFeederChoice(choice)) {
        if (feederChoice.empty()) feederChoice = choice;
      } else if (flatbedChoice.empty()) {
        flatbedChoice = choice;
      }
    }
    offer.hasFeeder = !feederChoice.empty();
    offer.hasFlatbed = !flatbedChoice.empty() || feederChoice.empty();
    if (const auto range = device_->Range(scan_option::kResolution)) {
      offer.minResolution = range->min;
      offer.maxResolution = range->max;
    }
    DeviceChoices choices;
    choices.source = offer.hasFlatbed ? ScanSource::Flatbed : ScanSource::Feeder;
    if (!dialog.Run(offer, choices)) return kFalse;
    const std::string& source = choices.source == ScanSource::Feeder ? feederChoice : flatbedChoice;
    ScanStatus status = ScanStatus::kGood;
    if (!source.empty()) status = device_->SetText(scan_option::kSource, source);
    if (status == ScanStatus::kGood)
      status =
          device_->SetText(scan_option::kMode, choices.mode == ScanMode::Color ? "Color" : "Gray");
    if (status == ScanStatus::kGood)
      status = device_->SetNumber(scan_option::kResolution, choices.resolution);
    if (status != ScanStatus::kGood) return ResultOfScanStatus(status);
    chosen = std::make_unique<ScannerWiaItem>(*device_);
    return kOk;
  }

 private:
  std::unique_ptr<ScannerDevice> device_;
};

// A device that another client holds: its dialog says so.
class OfflineRoot : public WiaRootItem {
 public:
  HResult DeviceDlg(DeviceDialog&, std::unique_ptr<WiaItem>&) override { return kErrorOffline; }
};

}  // namespace

HResult ResultOfScanStatus(ScanStatus status) {
  switch (status) {
    case ScanStatus::kGood: return kOk;
    case ScanStatus::kCancelled: return kFalse;
    case ScanStatus::kNoDocuments: return kErrorPaperEmpty;
    case ScanStatus::kJammed: return kErrorPaperJam;
    case ScanStatus::kCoverOpen: return kErrorCoverOpen;
    case ScanStatus::kDeviceBusy:
    case ScanStatus::kAccessDenied: return kErrorOffline;
    case ScanStatus::kIoError:
    case ScanStatus::kShortFrame: return kErrorDeviceCommunication;
    default: return kErrorGeneral;
  }
}

std::unique_ptr<WiaRootItem> ScannerWiaDeviceManager::CreateDevice(const std::string& deviceId) {
  if (deviceId.empty()) return nullptr;
  ScanStatus status = ScanStatus::kGood;
  auto device = source_.Open(deviceId, status);
  if (device) return std::make_unique<ScannerWiaRoot>(std::move(device));
  if (ResultOfScanStatus(status) == kErrorOffline) return std::make_unique<OfflineRoot>();
  return nullptr;
}

std::string ScannerNameForDevice(const std::string& deviceId, const std::string& serverIp) {
  if (deviceId.empty() || deviceId.starts_with("net:")) return deviceId;
  return "net:" + serverIp + ":" + deviceId;
}

}  // namespace tessaro::wia
