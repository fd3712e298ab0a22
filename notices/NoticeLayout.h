// SPDX-License-Identifier: GPL-2.0-or-later
// Where the sliding notices sit and what they say. The geometry is taken from the desktop work
// area once; device-found notices stack upwards in slots one window high, and a notice with no
// free slot is not shown.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessaro {

inline constexpr int kNoticeWidth = 210;
inline constexpr int kNoticeHeight = 100;
inline constexpr int kNarrowBy = 20;  // the version and device notices are this much narrower
inline constexpr int kMaxNoticeSlots = 32;
inline constexpr int kNoticeStep = 2;  // pixels per rise or sink step
inline constexpr int kNoticeRestMs = 10000;

struct NoticeGeometry {
  int32_t workLeft = 0;
  int32_t workTop = 0;
  int32_t workRight = 0;
  int32_t workBottom = 0;
  int32_t workWidth = 0;
  int32_t usableBottom = 0;
  int slotCount = 0;
};

NoticeGeometry ComputeNoticeGeometry(int32_t left, int32_t top, int32_t right, int32_t bottom);

// The top at which a notice in `slot` starts rising (−1: no slot, the bottom line).
int32_t RestingLine(const NoticeGeometry& geometry, int slot);
// Its left edge, measured from the screen's left edge.
int32_t NoticeLeft(const NoticeGeometry& geometry, int windowWidth);

// The in-use flags of the device-found notices' slots.
class NoticeSlots {
 public:
  explicit NoticeSlots(int count) : used_(static_cast<std::size_t>(count), false) {}
  // The lowest free slot, now taken; −1 when every slot is taken.
  int Take();
  void Release(int slot);
  bool AnyTaken() const;

 private:
  std::vector<bool> used_;
};

enum class NoticeKind { About, NewVersion, DeviceFound };

struct NoticeContent {
  NoticeKind kind = NoticeKind::About;
  std::string text;
  std::string clickAddress;  // empty: a click does nothing
  int stepPauseMs = 20;
  bool narrow = false;
  bool labelMoved = false;  // the version notice's text sits 12 right and 16 down
};

NoticeContent AboutNotice(const std::string& version);
NoticeContent NewVersionNotice(const std::string& version, const std::string& address);
NoticeContent DeviceFoundNotice(const std::string& deviceName);

// The close picture lights while the pointer is inside its inner area.
bool CloseHotArea(int x, int y, int width, int height);

}  // namespace tessaro
