// SPDX-License-Identifier: GPL-2.0-or-later
// The packed DOS date-time of FAT file times, kept as a signed 32-bit number: bits 31..25 year
// since 1980, 24..21 month, 20..16 day, 15..11 hour, 10..5 minute, 4..0 seconds / 2. Dates from
// 2044 on set the top bit, so their number is negative.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>

namespace tessaro {

struct CivilDateTime {
  int year = 1980;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// nullopt when the moment is not a valid date and time or its year lies outside 1980..2107.
// Odd seconds round down: the format keeps two-second steps.
std::optional<int32_t> PackDosDateTime(const CivilDateTime& when);
// nullopt for a number whose fields are no valid date and time (0, the "never" mark, is one).
std::optional<CivilDateTime> UnpackDosDateTime(int32_t packed);

// The same, from and to a moment in the local time zone.
std::optional<int32_t> DosDateTimeFromTime(std::time_t when);
std::optional<std::time_t> TimeFromDosDateTime(int32_t packed);

}  // namespace tessaro
