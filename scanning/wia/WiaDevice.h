// SPDX-License-Identifier: GPL-2.0-or-later
// The scanner as the WIA session sees it: a device manager that opens a device by its ID, the
// device's own dialog, and the chosen item with its formats, document handling and page transfer.
// ScannerWiaDevice.h makes one out of the scanner interface.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "scanning/wia/WiaTypes.h"

namespace tessaro::wia {

// What a transfer reports while it runs (IWiaDataCallback); kFalse from it stops the transfer.
class WiaDataCallback {
 public:
  virtual ~WiaDataCallback() = default;
  virtual HResult BandedDataCallback(int32_t message, int32_t status, int32_t percentComplete) = 0;
};

enum class ScanSource { Flatbed, Feeder };
enum class ScanMode { Color, Gray };

// What the device's dialog shows and what the user chose in it.
struct DeviceOffer {
  bool hasFlatbed = true;
  bool hasFeeder = false;
  double minResolution = 0;
  double maxResolution = 0;
};
struct DeviceChoices {
  ScanSource source = ScanSource::Flatbed;
  ScanMode mode = ScanMode::Color;
  int32_t resolution = 300;
};

// The device's own scan dialog; false when the user cancelled it.
class DeviceDialog {
 public:
  virtual ~DeviceDialog() = default;
  virtual bool Run(const DeviceOffer& offer, DeviceChoices& choices) = 0;
};

// The chosen item, with the root item's document handling.
class WiaItem {
 public:
  virtual ~WiaItem() = default;
  // The formats the item can deliver; kErrorOffline when the device is held elsewhere.
  virtual HResult EnumFormats(std::vector<ImageFormat>& formats) = 0;
  virtual void WriteFormat(ImageFormat format) = 0;
  virtual std::optional<ImageFormat> ReadFormat() = 0;
  virtual int32_t ReadResolution() = 0;  // 0 when it cannot be read
  virtual std::optional<uint32_t> DocumentHandlingSelect() = 0;
  virtual uint32_t DocumentHandlingStatus() = 0;  // 0 when it cannot be read
  // One page written whole to `file`, which must not exist: kOk, kFalse (cancelled through the
  // callback), kErrorPaperEmpty, or another failure.
  virtual HResult GetData(const std::string& file, WiaDataCallback& callback) = 0;
};

class WiaRootItem {
 public:
  virtual ~WiaRootItem() = default;
  // kOk with the chosen item, kFalse when cancelled, kErrorOffline when held elsewhere.
  virtual HResult DeviceDlg(DeviceDialog& dialog, std::unique_ptr<WiaItem>& chosen) = 0;
};

class WiaDeviceManager {
 public:
  virtual ~WiaDeviceManager() = default;
  // Null when the device cannot be created.
  virtual std::unique_ptr<WiaRootItem> CreateDevice(const std::string& deviceId) = 0;
};

}  // namespace tessaro::wia
