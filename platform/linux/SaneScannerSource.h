// SPDX-License-Identifier: GPL-2.0-or-later
// Scanners through SANE. SANE is process-wide: the first source starts it (reading its
// configuration then), it stops when the process ends, and it is used from one thread at a time.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/ScannerSource.h"

namespace tessaro {

class SaneScannerSource : public ScannerSource {
 public:
  SaneScannerSource();
  SaneScannerSource(const SaneScannerSource&) = delete;
  SaneScannerSource& operator=(const SaneScannerSource&) = delete;
  ~SaneScannerSource() override;

  // False when SANE could not be initialised; every call then finds no device.
  bool ok() const { return ok_; }

  std::vector<ScannerDeviceInfo> Devices() override;
  std::unique_ptr<ScannerDevice> Open(const std::string& name, ScanStatus& status) override;

 private:
  bool ok_ = false;
};

}  // namespace tessaro
