// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/DosDateTime.h"

namespace tessaro {

namespace {

constexpr int kFirstYear = 1980;
constexpr int kLastYear = kFirstYear + 127;

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool IsValid(const CivilDateTime& t) {
  return t.year >= kFirstYear && t.year <= kLastYear && t.month >= 1 && t.month <= 12 &&
         t.day >= 1 && t.day <= DaysInMonth(t.year, t.month) && t.hour >= 0 && t.hour < 24 &&
         t.minute >= 0 && t.minute < 60 && t.second >= 0 && t.second < 60;
}

}  // namespace

std::optional<int32_t> PackDosDateTime(const CivilDateTime& when) {
  if (!IsValid(when)) return std::nullopt;
  const uint32_t bits =
      static_cast<uint32_t>(when.year - kFirstYear) << 25 |
      static_cast<uint32_t>(when.month) << 21 | static_cast<uint32_t>(when.day) << 16 |
      static_cast<uint32_t>(when.hour) << 11 | static_cast<uint32_t>(when.minute) << 5 |
      static_cast<uint32_t>(when.second / 2);
  return static_cast<int32_t>(bits);
}

std::optional<CivilDateTime> UnpackDosDateTime(int32_t packed) {
  const auto bits = static_cast<uint32_t>(packed);
  CivilDateTime t;
  t.year = kFirstYear + static_cast<int>(bits >> 25);
  t.month = static_cast<int>((bits >> 21) & 0x0F);
  t.day = static_cast<int>((bits >> 16) & 0x1F);
  t.hour = static_cast<int>((bits >> 11) & 0x1F);
  t.minute = static_cast<int>((bits >> 5) & 0x3F);
  t.second = static_cast<int>(bits & 0x1F) * 2;
  if (!IsValid(t)) return std::nullopt;
  return t;
}

std::optional<int32_t> DosDateTimeFromTime(std::time_t when) {
  std::tm local{};
  if (!localtime_r(&when, &local)) return std::nullopt;
  return PackDosDateTime({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                          local.tm_min, local.tm_sec});
}

std::optional<std::time_t> TimeFromDosDateTime(int32_t packed) {
  const auto t = UnpackDosDateTime(packed);
  if (!t) return std::nullopt;
  std::tm local{};
  local.tm_year = t->year - 1900;
  local.tm_mon = t->month - 1;
  local.tm_mday = t->day;
  local.tm_hour = t->hour;
  local.tm_min = t->minute;
  local.tm_sec = t->second;
  local.tm_isdst = -1;  // the zone's own rule for that date
  const std::time_t result = std::mktime(&local);
  if (result == static_cast<std::time_t>(-1)) return std::nullopt;
  return result;
}

}  // namespace tessaro
