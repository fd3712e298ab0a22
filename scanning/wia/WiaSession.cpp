// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/wia/WiaSession.h"

#include <algorithm>

#include "platform/UiPort.h"
#include "scanning/wia/WiaTexts.h"

namespace tessaro::wia {

void WiaScanner::ReleaseWiaSession() {
  chosen_.reset();
  root_.reset();
}

void WiaScanner::CloseWiaDeviceManager() {
  ReleaseWiaSession();
  manager_ = nullptr;
}

int WiaScanner::Done() {
  ReleaseWiaSession();
  return kSessionDone;
}

int WiaScanner::RunWiaScanSession(const std::string& deviceId) {
  if (manager_ == nullptr) return kSessionDone;
  root_ = manager_->CreateDevice(deviceId);
  if (!root_) return Done();
  const HResult dialog = root_->DeviceDlg(ui_.DeviceDialogOf(), chosen_);
  if (dialog != kOk || !chosen_) {
    if (dialog == kErrorOffline) ui_.ShowMessage(STimeout);
    if (dialog == kFalse) ui_.ShowMessage(kDialogCancelled);
    return Done();
  }
  WiaTransferJob job;
  const int settings = ui_.RunSettings(job.settings);
  if (settings == answer::kRetry) {
    ReleaseWiaSession();
    return kScanAgain;
  }
  if (settings != answer::kOk) return Done();

  std::vector<ImageFormat> formats;
  const HResult listed = chosen_->EnumFormats(formats);
  if (listed == kErrorOffline) ui_.ShowMessage(STimeout);
  if (listed != kOk || formats.empty()) return Done();
  const bool offersJpeg =
      std::find(formats.begin(), formats.end(), ImageFormat::Jpeg) != formats.end();
  job.documentHandling = chosen_->DocumentHandlingSelect().value_or(0);
  chosen_->WriteFormat(ImageFormat::Bmp);
  if (job.settings.extension == ".jpg" && offersJpeg) chosen_->WriteFormat(ImageFormat::Jpeg);
  const auto format = chosen_->ReadFormat();
  if (!format) return Done();
  job.jpegFormat = *format == ImageFormat::Jpeg;
  job.resolution = chosen_->ReadResolution();
  job.item = chosen_.get();
  const int transfer = ui_.RunTransfer(job);
  ReleaseWiaSession();
  return transfer == answer::kRetry ? kScanAgain : kSessionDone;
}

}  // namespace tessaro::wia
