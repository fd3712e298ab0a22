// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <bitset>
#include <string>

namespace tessaro {

inline constexpr const char* kUnnamedDeviceCaption = "USB Device";
inline constexpr size_t kUnnamedDeviceSlots = 64;

// Numbers for rows of devices without manufacturer and product: slot i is taken while a row
// is captioned "USB Device " followed by i + 1.
class UnnamedSlots {
 public:
  // "USB Device N" for the lowest free slot, which becomes taken; "USB Device" when all are.
  std::string Take();
  // Frees the slot whose number follows "USB Device " in the caption; other captions free nothing.
  void Release(const std::string& caption);
  bool taken(size_t slot) const { return slot < kUnnamedDeviceSlots && taken_[slot]; }

 private:
  std::bitset<kUnnamedDeviceSlots> taken_;
};

}  // namespace tessaro
