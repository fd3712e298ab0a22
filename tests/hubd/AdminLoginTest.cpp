// SPDX-License-Identifier: GPL-2.0-or-later
// The web page's administrator password as stored, and the sessions a login opens.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "hubd/AdminPassword.h"
#include "hubd/AdminSessions.h"
#include "tests/support/Process.h"

using namespace tessaro::hubd;
using tessaro::testing::ReadTextFile;
using tessaro::testing::TempDir;
using tessaro::testing::WriteTextFile;

TEST(AdminPassword, IsStoredHashedPrivateAndWholeAndReadBack) {
  TempDir dir;
  const std::string path = dir / "hub.pins.admin";
  std::string error;
  EXPECT_FALSE(ReadAdminPasswordHash(path, error)) << "none set";
  EXPECT_EQ(error, "");
  for (const std::string& bad : {std::string("seven77"), std::string(257, 'p')}) {
    EXPECT_FALSE(StoreAdminPassword(path, bad, error)) << bad.size();
    EXPECT_NE(error, "");
  }
  for (const char* password : {"first password", "second password"}) {
    ASSERT_TRUE(StoreAdminPassword(path, password, error)) << error;
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const auto hash = ReadAdminPasswordHash(path, error);
    ASSERT_TRUE(hash) << error;
    EXPECT_EQ(hash->rfind("$argon2id$", 0), 0u);
    EXPECT_TRUE(AdminPasswordMatches(*hash, password));
    EXPECT_FALSE(AdminPasswordMatches(*hash, "first passwor"));
  }
  EXPECT_EQ(ReadTextFile(dir / "hub.pins.admin").find("password"), std::string::npos);
  WriteTextFile(path, "plain text\n");
  EXPECT_FALSE(ReadAdminPasswordHash(path, error)) << "no hash is no password";
  EXPECT_NE(error, "");
}

TEST(AdminSessions, LastTheirTimeAndOnlyWithTheirPassword) {
  AdminSessions sessions;
  const AdminSessions::TimePoint t0{std::chrono::hours(5)};
  const std::string a = sessions.Open("hash-1", t0);
  EXPECT_EQ(a.size(), 64u);
  EXPECT_NE(sessions.Open("hash-1", t0), a) << "random tokens";
  EXPECT_TRUE(sessions.Valid(a, "hash-1", t0 + std::chrono::minutes(59)));
  EXPECT_FALSE(sessions.Valid(a, "hash-2", t0)) << "a new password ends it";
  EXPECT_FALSE(sessions.Valid(a, "hash-1", t0)) << "and for good";
  const std::string b = sessions.Open("hash-1", t0);
  EXPECT_FALSE(sessions.Valid(b, "hash-1", t0 + AdminSessions::kLifetime));
  EXPECT_FALSE(sessions.Valid("", "hash-1", t0));
  // The oldest gives way once the table is full.
  const std::string first = sessions.Open("h", t0);
  for (size_t i = 0; i < AdminSessions::kMaxSessions; ++i)
    sessions.Open("h", t0 + std::chrono::seconds(1 + i));
  EXPECT_FALSE(sessions.Valid(first, "h", t0 + std::chrono::seconds(30)));
}

TEST(AdminSessions, PasswordTriesComeInABurstThenOneASecond) {
  AdminSessions sessions;
  const AdminSessions::TimePoint t0{std::chrono::hours(5)};
  for (int i = 0; i < AdminSessions::kTryBurst; ++i) EXPECT_TRUE(sessions.MayTry(t0)) << i;
  EXPECT_FALSE(sessions.MayTry(t0));
  EXPECT_FALSE(sessions.MayTry(t0 + std::chrono::milliseconds(500)));
  EXPECT_TRUE(sessions.MayTry(t0 + std::chrono::milliseconds(1100)));
  EXPECT_FALSE(sessions.MayTry(t0 + std::chrono::milliseconds(1200)));
}
