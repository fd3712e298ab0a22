// SPDX-License-Identifier: GPL-2.0-or-later
// The packed DOS date-time of "Notify Last Date", both ways, at the edges of its range.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "base/DosDateTime.h"

namespace tessaro {
namespace {

bool operator==(const CivilDateTime& a, const CivilDateTime& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
         a.minute == b.minute && a.second == b.second;
}

std::string Show(const CivilDateTime& t) {
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

TEST(DosDateTime, PacksAndUnpacksTheEdgesOfItsRange) {
  struct Case {
    CivilDateTime when;
    uint32_t packed;
  } cases[] = {
      {{1980, 1, 1, 0, 0, 0}, 0x00210000},
      {{2000, 2, 29, 12, 34, 56}, 0x285D645C},   // a leap day
      {{2043, 12, 31, 23, 59, 58}, 0x7F9FBF7D},  // the last positive number
      {{2044, 1, 1, 0, 0, 0}, 0x80210000},       // the top bit set
      {{2107, 12, 31, 23, 59, 58}, 0xFF9FBF7D},
  };
  for (const Case& c : cases) {
    const auto packed = PackDosDateTime(c.when);
    ASSERT_TRUE(packed) << Show(c.when);
    EXPECT_EQ(static_cast<uint32_t>(*packed), c.packed) << Show(c.when);
    const auto back = UnpackDosDateTime(static_cast<int32_t>(c.packed));
    ASSERT_TRUE(back) << Show(c.when);
    EXPECT_TRUE(*back == c.when) << Show(c.when) << " came back as " << Show(*back);
  }
  // Signed decimal text, as the setting stores it.
  EXPECT_EQ(std::to_string(*PackDosDateTime({2107, 12, 31, 23, 59, 58})), "-6307971");
}

TEST(DosDateTime, OddSecondsRoundDownToTheTwoSecondStep) {
  const auto packed = PackDosDateTime({2000, 2, 29, 12, 34, 57});
  ASSERT_TRUE(packed);
  EXPECT_EQ(*packed, 0x285D645C);
  EXPECT_EQ(UnpackDosDateTime(*packed)->second, 56);
}

TEST(DosDateTime, MomentsOutsideTheFormatDoNotPack) {
  const CivilDateTime cases[] = {
      {1979, 12, 31, 23, 59, 59}, {2108, 1, 1, 0, 0, 0},  {2001, 2, 29, 0, 0, 0},
      {2100, 2, 29, 0, 0, 0},     {2000, 13, 1, 0, 0, 0}, {2000, 0, 1, 0, 0, 0},
      {2000, 4, 31, 0, 0, 0},     {2000, 1, 0, 0, 0, 0},  {2000, 1, 1, 24, 0, 0},
      {2000, 1, 1, 0, 60, 0},     {2000, 1, 1, 0, 0, 60}, {2000, 1, 1, -1, 0, 0},
  };
  for (const CivilDateTime& c : cases) EXPECT_FALSE(PackDosDateTime(c)) << Show(c);
}

TEST(DosDateTime, NumbersWhoseFieldsAreNoDateDoNotUnpack) {
  const struct {
    const char* why;
    uint32_t packed;
  } cases[] = {
      {"0, never", 0x00000000},         {"month 0", 0x00010000},
      {"month 13", 0x01A10000},         {"day 0", 0x00200000},
      {"31 April", 0x009F0000},         {"29 February 2001", 0x2A5D0000},
      {"29 February 2100", 0xF05D0000}, {"hour 24", 0x0021C000},
      {"minute 60", 0x00210780},        {"second 60", 0x0021001E},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(UnpackDosDateTime(static_cast<int32_t>(c.packed))) << c.why;
  }
}

struct Zone {
  const char* name;
  const char* tz;
  long eastOfUtc;  // seconds; POSIX zone strings give the opposite sign
};

// Local time in a zone set for the test; the previous zone comes back afterwards.
class DosDateTimeZone : public ::testing::TestWithParam<Zone> {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
    setenv("TZ", GetParam().tz, 1);
    tzset();
  }
  void TearDown() override {
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  std::optional<std::string> saved_;
};

TEST_P(DosDateTimeZone, ConvertsFromAndToLocalTime) {
  // 2000-02-29 12:34:56 UTC.
  constexpr std::time_t kUtc = 951827696;
  const std::time_t local = kUtc - GetParam().eastOfUtc;  // 12:34:56 on the zone's clock
  const auto packed = DosDateTimeFromTime(local);
  ASSERT_TRUE(packed);
  EXPECT_EQ(*packed, 0x285D645C);
  EXPECT_EQ(TimeFromDosDateTime(*packed), local);
  EXPECT_EQ(TimeFromDosDateTime(0), std::nullopt);
  // Before 1980 there is nothing to pack.
  EXPECT_EQ(DosDateTimeFromTime(0 - GetParam().eastOfUtc), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Zones, DosDateTimeZone,
                         ::testing::Values(Zone{"Utc", "UTC0", 0}, Zone{"East", "CET-1", 3600},
                                           Zone{"West", "EST5", -5 * 3600}),
                         [](const ::testing::TestParamInfo<Zone>& zone) {
                           return std::string(zone.param.name);
                         });

}  // namespace
}  // namespace tessaro
