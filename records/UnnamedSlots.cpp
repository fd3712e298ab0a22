// SPDX-License-Identifier: GPL-2.0-or-later
#include "records/UnnamedSlots.h"

#include <string_view>

namespace tessaro {

namespace {

// The slot number in "USB Device N", N from 1 to 64; 0 for any other caption.
size_t SlotNumberOf(std::string_view caption) {
  const std::string_view prefix = "USB Device ";
  if (!caption.starts_with(prefix)) return 0;
  const std::string_view digits = caption.substr(prefix.size());
  if (digits.empty() || digits.size() > 2) return 0;
  size_t n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + static_cast<size_t>(c - '0');
  }
  return n <= kUnnamedDeviceSlots ? n : 0;
}

}  // namespace

std::string UnnamedSlots::Take() {
  for (size_t i = 0; i < kUnnamedDeviceSlots; ++i) {
    if (taken_[i]) continue;
    taken_[i] = true;
    return std::string(kUnnamedDeviceCaption) + " " + std::to_string(i + 1);
  }
  return kUnnamedDeviceCaption;
}

void UnnamedSlots::Release(const std::string& caption) {
  const size_t n = SlotNumberOf(caption);
  if (n > 0) taken_[n - 1] = false;
}

}  // namespace tessaro
