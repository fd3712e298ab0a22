// SPDX-License-Identifier: GPL-2.0-or-later
// The WIA-shaped device over the scanner interface: a device ID is a scanner name, the device
// dialog sets source, mode and resolution, the item delivers BMP pages (a scanner hands over raw
// frames, so JPEG is made from them afterwards), and a feeder that runs dry answers
// kErrorPaperEmpty.
#pragma once

#include <memory>
#include <string>

#include "platform/ScannerSource.h"
#include "scanning/wia/WiaDevice.h"

namespace tessaro::wia {

class ScannerWiaDeviceManager : public WiaDeviceManager {
 public:
  explicit ScannerWiaDeviceManager(ScannerSource& source) : source_(source) {}
  std::unique_ptr<WiaRootItem> CreateDevice(const std::string& deviceId) override;

 private:
  ScannerSource& source_;
};

// The scanner name a device ID stands for, for a device at the server `serverIp`: the device
// database records the name the server's own scan service knows it by, which this PC reaches
// through the network backend; an ID that is already a network name is kept.
std::string ScannerNameForDevice(const std::string& deviceId, const std::string& serverIp);

// The WIA result a scanner's answer stands for.
HResult ResultOfScanStatus(ScanStatus status);

}  // namespace tessaro::wia
