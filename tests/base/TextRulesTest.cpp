// SPDX-License-Identifier: GPL-2.0-or-later
// The text rules every program shares: addresses, numbers and ASCII case.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "base/AsciiText.h"
#include "base/Ipv4Text.h"
#include "base/LogText.h"
#include "base/NumberText.h"

namespace tessaro {
namespace {

TEST(Ipv4Text, OnlyAPlainDottedQuadIsAnAddress) {
  struct Case {
    const char* text;
    bool address;
  };
  const Case cases[] = {
      {"10.0.0.1", true},   {"255.255.255.255", true}, {"0.0.0.0", true},     {"127.0.1.1", true},
      {"10.1", false},      {"10.0.0.256", false},     {"010.0.0.1", false},  {"0x7f.0.0.1", false},
      {" 10.0.0.1", false}, {"10.0.0.1 ", false},      {"10.0.0.1.5", false}, {"10..0.1", false},
      {"", false},          {"1000.0.0.1", false},     {"10.0.0.-1", false},
  };
  for (const Case& c : cases) {
    const auto parsed = ParseIpv4(c.text);
    EXPECT_EQ(parsed.has_value(), c.address) << c.text;
    if (parsed) {
      EXPECT_EQ(FormatIpv4(*parsed), c.text);
    }
  }
}

TEST(Ipv4Text, NetworkOrderAndLoopback) {
  const auto parsed = ParseIpv4("192.168.1.2");
  ASSERT_TRUE(parsed);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&*parsed);
  EXPECT_EQ(bytes[0], 192);
  EXPECT_EQ(bytes[3], 2);
  for (const char* loopback : {"127.0.0.1", "127.0.1.1", "127.255.255.254"})
    EXPECT_TRUE(IsLoopbackIpv4(*ParseIpv4(loopback))) << loopback;
  for (const char* other : {"128.0.0.1", "10.0.0.127", "1.127.0.0"})
    EXPECT_FALSE(IsLoopbackIpv4(*ParseIpv4(other))) << other;
}

TEST(NumberText, TheWholeTextMustBeTheNumber) {
  struct Case {
    const char* text;
    PlusSign plus;
    std::optional<int32_t> value;
  };
  const Case cases[] = {
      {"42", PlusSign::Refused, 42},
      {"-42", PlusSign::Refused, -42},
      {"+42", PlusSign::Refused, std::nullopt},
      {"+42", PlusSign::Allowed, 42},
      {"+-42", PlusSign::Allowed, std::nullopt},
      {"+", PlusSign::Allowed, std::nullopt},
      {"", PlusSign::Refused, std::nullopt},
      {" 42", PlusSign::Refused, std::nullopt},
      {"42 ", PlusSign::Refused, std::nullopt},
      {"4x", PlusSign::Refused, std::nullopt},
      {"2147483647", PlusSign::Refused, INT32_MAX},
      {"2147483648", PlusSign::Refused, std::nullopt},
      {"0x10", PlusSign::Refused, std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ParseNumber<int32_t>(c.text, 10, c.plus), c.value) << c.text;
  EXPECT_EQ(ParseNumber<uint16_t>("04b8", 16), 0x04b8);
  EXPECT_EQ(ParseNumber<uint16_t>("10000", 16), std::nullopt);
  EXPECT_EQ(ParseNumberIn<uint32_t>("65535", 1, 65535), 65535u);
  EXPECT_EQ(ParseNumberIn<uint32_t>("0", 1, 65535), std::nullopt);
  EXPECT_EQ(ParseNumberIn<uint32_t>("65536", 1, 65535), std::nullopt);
}

TEST(AsciiText, LettersFoldOthersKeepTheirOrder) {
  EXPECT_TRUE(EqualsNoCase("Mass Storage", "MASS STORAGE"));
  EXPECT_FALSE(EqualsNoCase("MASS STORAGE", "MASS STORAGE "));
  // Only ASCII letters fold: bytes above 0x7F compare as they are, whatever the locale.
  EXPECT_FALSE(EqualsNoCase("\xE9", "\xC9"));
  EXPECT_TRUE(StartsWithNoCase("{4D36E979}\\0001", "{4d36e979}\\"));
  EXPECT_EQ(CompareNoCase("abc", "ABC"), 0);
  EXPECT_LT(CompareNoCase("ab", "abc"), 0);
  // Folded to upper case, as Windows orders names: "_" (0x5F) comes after every letter.
  EXPECT_GT(CompareNoCase("a_", "aZ"), 0);
  EXPECT_LT(CompareNoCase("Z", "\xE9"), 0);
}

TEST(LogText, ControlBytesAndTheBackslashAreEscaped) {
  struct Case {
    std::string name;
    const char* logged;
  };
  const Case cases[] = {
      {"PC-A", "PC-A"},
      {"", ""},
      {"PC\nFAKE LINE", "PC\\x0AFAKE LINE"},
      {"a\rb\tc", "a\\x0Db\\x09c"},
      {"\x1b[31mred", "\\x1B[31mred"},
      {"del\x7f", "del\\x7F"},
      {std::string("nul\0end", 7), "nul\\x00end"},
      {"back\\x0A", "back\\\\x0A"},  // a literal backslash cannot pass as an escape
      {"caf\xc3\xa9 ~", "caf\xc3\xa9 ~"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LogText(c.name), c.logged) << c.logged;
    EXPECT_EQ(ParseLogText(c.logged), c.name) << "reads back: " << c.logged;
  }
  // What LogText never writes does not read.
  for (const char* bad : {"end\\", "a\\x4", "a\\xZZ", "a\\n"})
    EXPECT_EQ(ParseLogText(bad), std::nullopt) << bad;
}

}  // namespace
}  // namespace tessaro
