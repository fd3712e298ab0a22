// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "cli/JsonLine.h"

using namespace tessaro::cli;

TEST(JsonEscape, EveryByteSurvives) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"plain text 1.0", "plain text 1.0"},
      {"quote \" and backslash \\", "quote \\\" and backslash \\\\"},
      {"Gr\xFC\xDF", "Gr\\u00FC\\u00DF"},
      {"\x80\xFF", "\\u0080\\u00FF"},
      {std::string("a\0b", 3), "a\\u0000b"},
      {"tab\tnew\nline\r", "tab\\u0009new\\u000Aline\\u000D"},
      {"\x1F\x7F", "\\u001F\\u007F"},
      {"/ and ~ stay", "/ and ~ stay"},
  };
  for (const auto& c : cases) EXPECT_EQ(JsonEscape(c.in), c.out) << c.out;
}

TEST(JsonLine, KeysInOrderWithTheirTypes) {
  const std::string line = JsonLine()
                               .Text("deviceNumber", "3")
                               .Number("lockKind", -1)
                               .Bool("ok", false)
                               .Text("name", "\xE9")
                               .str();
  EXPECT_EQ(line, R"({"deviceNumber":"3","lockKind":-1,"ok":false,"name":"\u00E9"})");
  EXPECT_EQ(JsonLine().str(), "{}");
}
