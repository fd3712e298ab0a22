// SPDX-License-Identifier: GPL-2.0-or-later
#include "options/NotifySettings.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "base/Product.h"
#include "platform/RegistryText.h"

namespace tessaro {
namespace {

namespace chr = std::chrono;

chr::sys_days DayOf(const CivilDateTime& when) {
  return chr::sys_days(chr::year(when.year) / chr::month(static_cast<unsigned>(when.month)) /
                       chr::day(static_cast<unsigned>(when.day)));
}

int64_t SecondsOf(const CivilDateTime& when) {
  const int64_t days = DayOf(when).time_since_epoch().count();
  return days * 86400 + when.hour * 3600 + when.minute * 60 + when.second;
}

}  // namespace

CivilDateTime LocalNow(const Clock& clock) {
  const std::time_t now = chr::system_clock::to_time_t(clock.WallNow());
  std::tm local{};
  localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
          local.tm_hour,        local.tm_min,     local.tm_sec};
}

CivilDateTime AddDays(const CivilDateTime& when, int32_t days) {
  const chr::year_month_day date{DayOf(when) + chr::days(days)};
  CivilDateTime moved = when;
  moved.year = static_cast<int>(date.year());
  moved.month = static_cast<int>(static_cast<unsigned>(date.month()));
  moved.day = static_cast<int>(static_cast<unsigned>(date.day()));
  return moved;
}

int64_t WholeMinutesBetween(const CivilDateTime& a, const CivilDateTime& b) {
  const int64_t seconds = SecondsOf(a) - SecondsOf(b);
  return (seconds < 0 ? -seconds : seconds) / 60;
}

std::string NextNotificationText(const CivilDateTime& lastNotice, int32_t days) {
  const CivilDateTime due = AddDays(lastNotice, days);
  const int hour12 = due.hour % 12 == 0 ? 12 : due.hour % 12;
  char text[48];
  std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d %s", due.year, due.month, due.day,
                hour12, due.minute, due.second, due.hour < 12 ? "am" : "pm");
  return text;
}

bool StoreNotifyLastDate(Registry& registry, NotifySettings& settings, const CivilDateTime& now) {
  const auto packed = PackDosDateTime(now);
  if (!packed) return false;
  settings.NotifyLastDate = *packed;
  RegWriteText(registry, RegRoot::CurrentUser, AppRegistryKey, "Notify Last Date", false, true,
               std::to_string(*packed));
  return true;
}

}  // namespace tessaro
