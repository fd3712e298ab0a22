// SPDX-License-Identifier: GPL-2.0-or-later
// Which Host and Origin headers name the server's own page.
#include "hubd/PageOrigin.h"

#include <gtest/gtest.h>

using tessaro::hubd::PageOrigin;

TEST(PageOrigin, OnlyTheServersNamesWithItsPortAreItsOwn) {
  const PageOrigin on8080({"10.0.0.5", "hub7", "hub7.local"}, 8080);
  const PageOrigin on80({"10.0.0.5"}, 80);
  const struct Case {
    const PageOrigin& origin;
    const char* host;
    bool own;
  } hosts[] = {
      {on8080, "10.0.0.5", true},
      {on8080, "10.0.0.5:8080", true},
      {on8080, "HUB7.Local:8080", true},
      {on8080, "10.0.0.5:80", false},
      {on8080, "10.0.0.5:", false},
      {on8080, "10.0.0.5:+8080", false},
      {on8080, "10.0.0.50", false},
      {on8080, "evil.example", false},
      {on8080, "", false},
      {on8080, "10.0.0.5:8080:8080", false},
      {on80, "10.0.0.5:80", true},
  };
  for (const Case& c : hosts) EXPECT_EQ(c.origin.IsOwnHost(c.host), c.own) << c.host;
  const struct OriginCase {
    const PageOrigin& origin;
    const char* text;
    bool own;
  } origins[] = {
      {on8080, "http://10.0.0.5:8080", true},
      {on8080, "http://hub7:8080", true},
      {on8080, "http://10.0.0.5", false},
      {on8080, "https://10.0.0.5:8080", false},
      {on8080, "null", false},
      {on8080, "http://evil.example:8080", false},
      {on8080, "http://10.0.0.5:8080/", false},
      {on80, "http://10.0.0.5", true},
      {on80, "http://10.0.0.5:80", true},
  };
  for (const OriginCase& c : origins) EXPECT_EQ(c.origin.IsOwnOrigin(c.text), c.own) << c.text;
}
