// SPDX-License-Identifier: GPL-2.0-or-later
// The notice settings the Options dialog and the new-version check share, and the dates they
// keep: "Notify Last Date" is a packed DOS date-time of local time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/DosDateTime.h"
#include "platform/Clock.h"
#include "platform/Registry.h"

namespace tessaro {

struct NotifySettings {
  bool NotifyDeviceDetect = true;
  bool NotifyNewVersion = true;
  int32_t NotifyCheckDays = 60;
  int32_t NotifyLastDate = 0;  // 0 is "never"
  std::string ProductVersion;
};

inline constexpr int32_t kMinCheckDays = 60;
inline constexpr int32_t kMaxCheckDays = 365;

// The wall clock as local calendar fields.
CivilDateTime LocalNow(const Clock& clock);

// Calendar arithmetic on local fields, as the stored dates are plain local times.
CivilDateTime AddDays(const CivilDateTime& when, int32_t days);
int64_t WholeMinutesBetween(const CivilDateTime& a, const CivilDateTime& b);

// "yyyy/mm/dd hh:nn:ss am" on a 12-hour clock: the date the next notice is due.
std::string NextNotificationText(const CivilDateTime& lastNotice, int32_t days);

// Stores `now` as the last notice, in the setting and the store. False when `now` cannot be
// packed (outside 1980..2107); nothing changes then.
bool StoreNotifyLastDate(Registry& registry, NotifySettings& settings, const CivilDateTime& now);

}  // namespace tessaro
