// SPDX-License-Identifier: GPL-2.0-or-later
#include "notices/NoticeLayout.h"

#include <algorithm>

#include "base/Product.h"

namespace tessaro {

NoticeGeometry ComputeNoticeGeometry(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  NoticeGeometry geometry{left, top, right, bottom};
  geometry.workWidth = right - left;
  geometry.usableBottom = bottom - 2;
  geometry.slotCount = std::clamp(geometry.usableBottom / kNoticeHeight, 0, kMaxNoticeSlots);
  return geometry;
}

int32_t RestingLine(const NoticeGeometry& geometry, int slot) {
  return geometry.usableBottom - (kNoticeHeight + 1) * std::max(slot, 0);
}

int32_t NoticeLeft(const NoticeGeometry& geometry, int windowWidth) {
  return geometry.workWidth - windowWidth - 16;
}

int NoticeSlots::Take() {
  for (std::size_t i = 0; i < used_.size(); ++i) {
    if (!used_[i]) {
      used_[i] = true;
      return static_cast<int>(i);
    }
  }
  return -1;
}

void NoticeSlots::Release(int slot) {
  if (slot >= 0 && slot < static_cast<int>(used_.size()))
    used_[static_cast<std::size_t>(slot)] = false;
}

bool NoticeSlots::AnyTaken() const {
  return std::find(used_.begin(), used_.end(), true) != used_.end();
}

NoticeContent AboutNotice(const std::string& version) {
  NoticeContent notice;
  notice.kind = NoticeKind::About;
  notice.text = "Version : " + version + "\n\nCopyright (C) 2008 " + CompanyName +
                " Corporation.\n\nAll rights reserved.";
  return notice;
}

NoticeContent NewVersionNotice(const std::string& version, const std::string& address) {
  NoticeContent notice;
  notice.kind = NoticeKind::NewVersion;
  notice.text = std::string(ProductName) + " " + version + " is\nnow avaiable !";
  notice.clickAddress = address;
  notice.narrow = true;
  notice.labelMoved = true;
  return notice;
}

NoticeContent DeviceFoundNotice(const std::string& deviceName) {
  NoticeContent notice;
  notice.kind = NoticeKind::DeviceFound;
  notice.text = "Found\n\n" + deviceName;
  notice.stepPauseMs = 10;
  notice.narrow = true;
  return notice;
}

bool CloseHotArea(int x, int y, int width, int height) {
  return x > 4 && x < width - 3 && y > 4 && y < height - 3;
}

}  // namespace tessaro
