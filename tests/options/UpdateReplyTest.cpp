// SPDX-License-Identifier: GPL-2.0-or-later
// How the client reads the update server's reply and decides what is newer.
#include <gtest/gtest.h>

#include "options/NotifySettings.h"
#include "options/UpdateReply.h"

namespace tessaro {
namespace {

std::string Reply(const std::string& inside) {
  return "<?xml version=\"1.0\"?><Query><Default>" + inside + "</Default></Query>";
}

TEST(VersionRule, NumbersNotTextDecide) {
  struct Case {
    const char* latest;
    const char* installed;
    bool newer;
  } const cases[] = {
      {"1.0", "1.0", false},  {"1.10", "1.9", true}, {"1.9", "1.10", false},
      {"2.0", "1.99", true},  {"1.2", "", true},     {"1.0", "1", false},
      {"1.0.1", "1.0", true}, {"0.9", "1.0", false}, {"10.0", "9.9", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(VersionIsNewer(c.latest, c.installed), c.newer) << c.latest << " vs " << c.installed;
  }
}

TEST(UpdateReplyRead, VersionDateAndSitesInDocumentOrder) {
  const auto reply = ReadUpdateReply(Reply(
      "<FW_Version><Major>01</Major><Minor>2</Minor><Date>2008-07-10</Date></FW_Version>"
      "<Download_Site><Europe><Firmware>http://eu.example/t.exe</Firmware></Europe>"
      "<Global><Firmware>http://www.example/t.exe</Firmware></Global><Asia/></Download_Site>"));
  ASSERT_TRUE(reply);
  EXPECT_TRUE(reply->hasVersion);
  EXPECT_EQ(reply->VersionText(), "1.2");
  EXPECT_EQ(reply->date, "2008-07-10");
  ASSERT_EQ(reply->sites.size(), 3u);
  EXPECT_EQ(reply->sites[0].name, "Europe");
  EXPECT_EQ(reply->sites[1].address, "http://www.example/t.exe");
  EXPECT_EQ(reply->sites[2].address, "");
  EXPECT_EQ(GlobalDownloadAddress(reply->sites), "http://www.example/t.exe");
}

TEST(UpdateReplyRead, AReplyWithoutVersionIsNoFailure) {
  const auto reply = ReadUpdateReply(Reply("<Download_Site/>"));
  ASSERT_TRUE(reply);
  EXPECT_FALSE(reply->hasVersion);
}

TEST(UpdateReplyRead, UnreadableRepliesAreFailures) {
  const char* const bodies[] = {
      "",
      "<html><body>Not here</body></html>",
      "<Query><Default><FW_Version><Major>1</Major>",
      "not xml at all",
      "<Query><Other/></Query>",
      "<Query><Default><FW_Version><Major>one</Major><Minor>2</Minor></FW_Version></Default></"
      "Query>",
      "<Query><Default><FW_Version><Major>1</Major></FW_Version></Default></Query>",
      "<Query><Default><FW_Version><Major>-1</Major><Minor>2</Minor></FW_Version></Default></"
      "Query>",
      "<Query><Default><FW_Version><Major>99999999999</Major><Minor>2</Minor></FW_Version>"
      "</Default></Query>",
  };
  for (const char* body : bodies) EXPECT_FALSE(ReadUpdateReply(body)) << body;
}

TEST(UpdateReplyRead, GlobalIsTheLastSiteOfThatExactName) {
  const std::vector<DownloadSite> sites = {
      {"Global", "http://a/"}, {"global", "http://b/"}, {"Global", "http://c/"}};
  EXPECT_EQ(GlobalDownloadAddress(sites), "http://c/");
  EXPECT_EQ(GlobalDownloadAddress({{"Europe", "http://e/"}}), "");
}

TEST(NoticeTexts, DatesAndAddresses) {
  EXPECT_EQ(ReleaseDateText("2008-07-10"), "2008/07/10");
  EXPECT_EQ(ReleaseDateText("2008-07-10-x"), "2008/07/10-x");
  EXPECT_EQ(ReleaseDateText("July 2008"), "July 2008");
  EXPECT_EQ(NextNotificationText({2008, 7, 14, 11, 49, 32}, 60), "2008/09/12 11:49:32 am");
  EXPECT_EQ(NextNotificationText({2008, 12, 31, 12, 0, 0}, 60), "2009/03/01 12:00:00 pm");
  EXPECT_EQ(NextNotificationText({2008, 1, 1, 0, 5, 0}, 365), "2008/12/31 12:05:00 am");
  EXPECT_EQ(NextNotificationText({2008, 1, 1, 23, 5, 0}, 60), "2008/03/01 11:05:00 pm");
  struct Case {
    const char* address;
    bool web;
  } const cases[] = {
      {"http://x/t.exe", true},  {"HTTPS://x/", true},    {"file:///etc/passwd", false},
      {"/usr/bin/xterm", false}, {"javascript:x", false}, {"", false},
      {"ftp://x/", false}};
  for (const Case& c : cases) EXPECT_EQ(IsWebAddress(c.address), c.web) << c.address;
}

TEST(NoticeTexts, MinutesBetweenLocalDates) {
  EXPECT_EQ(WholeMinutesBetween({2008, 7, 14, 11, 49, 32}, {2008, 7, 14, 11, 50, 31}), 0);
  EXPECT_EQ(WholeMinutesBetween({2008, 7, 14, 11, 50, 32}, {2008, 7, 14, 11, 49, 32}), 1);
  EXPECT_EQ(WholeMinutesBetween({2008, 7, 14, 0, 0, 0}, {2008, 9, 12, 0, 0, 0}), 60 * 1440);
}

}  // namespace
}  // namespace tessaro
