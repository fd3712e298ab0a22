// SPDX-License-Identifier: GPL-2.0-or-later
// The settings helpers on their full-access path against a real hive (the query-only path runs
// as an unprivileged user in SettingsReadOnlyTest.cpp).
#include <gtest/gtest.h>

#include "platform/RegistryText.h"
#include "tests/support/HiveFixture.h"

namespace tessaro {
namespace {

const std::string kKey = "Software\\Test\\Values";

TEST_F(HiveTest, ReadTextTakesStringsEmptiesForMissingAndKeepsTheRest) {
  SetRaw(RegRoot::CurrentUser, kKey, "Plain", regtype::kSz, "abc");
  SetRaw(RegRoot::CurrentUser, kKey, "Expand", regtype::kExpandSz, "%HOME%\\x");
  SetRaw(RegRoot::CurrentUser, kKey, "Nul", regtype::kSz, std::string("ab\0cd", 5));
  SetRaw(RegRoot::CurrentUser, kKey, "Long", regtype::kSz, std::string(1000, 'L'));
  SetRaw(RegRoot::CurrentUser, kKey, "Empty", regtype::kSz, "");
  SetRaw(RegRoot::CurrentUser, kKey, "Dword", regtype::kDword, std::string("\x01\0\0\0", 4));
  SetRaw(RegRoot::CurrentUser, kKey, "Binary", regtype::kBinary, "bytes");
  struct Case {
    const char* why;
    std::string key;
    std::string name;
    std::string expected;
  } cases[] = {
      {"a string", kKey, "Plain", "abc"},
      {"names ignore letter case", "software\\TEST\\values", "PLAIN", "abc"},
      {"an expandable string stays unexpanded", kKey, "Expand", "%HOME%\\x"},
      {"a string ends at its first NUL", kKey, "Nul", "ab"},
      {"full access reads without a buffer limit", kKey, "Long", std::string(1000, 'L')},
      {"an empty string", kKey, "Empty", ""},
      {"a missing value empties the text", kKey, "Missing", ""},
      {"a DWORD leaves the text alone", kKey, "Dword", "before"},
      {"binary data leaves the text alone", kKey, "Binary", "before"},
      {"a missing key leaves the text alone", kKey + "\\Nowhere", "Plain", "before"},
  };
  for (const Case& c : cases) {
    std::string text = "before";
    RegReadText(registry_, RegRoot::CurrentUser, c.key, c.name, text);
    EXPECT_EQ(text, c.expected) << c.why;
  }
  // Reading never makes a key.
  EXPECT_FALSE(Open(RegRoot::CurrentUser, kKey + "\\Nowhere", false).valid);
}

TEST_F(HiveTest, WriteTextCreatesOnlyWhenAskedAndSetsTheType) {
  struct Case {
    const char* why;
    std::string key;
    bool expandable;
    bool create;
    std::optional<uint32_t> expectedType;
  } cases[] = {
      {"a new key path is made", "Software\\A\\B\\C", false, true, regtype::kSz},
      {"expandable text", "Software\\A\\Expand", true, true, regtype::kExpandSz},
      {"no key without create", "Software\\A\\NotMade", false, false, std::nullopt},
  };
  for (const Case& c : cases) {
    RegWriteText(registry_, RegRoot::CurrentUser, c.key, "Name", c.expandable, c.create, "text");
    const auto value = Raw(RegRoot::CurrentUser, c.key, "Name");
    ASSERT_EQ(value.has_value(), c.expectedType.has_value()) << c.why;
    if (value) {
      EXPECT_EQ(value->type, *c.expectedType) << c.why;
      EXPECT_EQ(value->data, "text") << c.why;
    }
  }
  EXPECT_FALSE(Open(RegRoot::CurrentUser, "Software\\A\\NotMade", false).valid);

  // An existing key is written without create, and a value of another type becomes a string.
  SetRaw(RegRoot::CurrentUser, kKey, "Was", regtype::kDword, std::string("\x05\0\0\0", 4));
  RegWriteText(registry_, RegRoot::CurrentUser, kKey, "Was", false, false, "now text");
  const auto was = Raw(RegRoot::CurrentUser, kKey, "Was");
  ASSERT_TRUE(was);
  EXPECT_EQ(was->type, regtype::kSz);
  EXPECT_EQ(was->data, "now text");
}

}  // namespace
}  // namespace tessaro
