// SPDX-License-Identifier: GPL-2.0-or-later
// Where hubd learns which USB devices are plugged into its machine: udev on a real server
// (UdevUsbSource), a fake in tests. Its descriptor joins hubd's poll loop, so hot-plug is handled
// on hubd's one thread.
#pragma once

#include <vector>

#include "hubd/UsbDevice.h"

namespace tessaro::hubd {

class UsbSource {
 public:
  virtual ~UsbSource() = default;
  // Readable while hot-plug events wait; -1 when the source has none.
  virtual int fd() const = 0;
  // Takes every waiting event; true when the devices or their facts changed.
  virtual bool Update() = 0;
  // Every device plugged in now, hubs included, in no particular order.
  virtual std::vector<UsbDevice> Devices() const = 0;
};

}  // namespace tessaro::hubd
