// SPDX-License-Identifier: GPL-2.0-or-later
// The named mutex: recursive for its holder, refused to other threads and processes, and free
// again when its holder dies.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "platform/linux/FileNamedMutex.h"
#include "tests/support/Process.h"

namespace tessaro {
namespace {

// Runs `probe` in a child process; its exit code (0 or 1) is the answer.
bool InChild(const std::function<bool()>& probe) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(probe() ? 0 : 1);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(NamedMutex, RecursiveForItsThreadRefusedToOthers) {
  testing::TempDir dir;
  FileNamedMutex mutex("RefreshServerList_QXV", dir.path());
  ASSERT_TRUE(mutex.Valid());
  ASSERT_TRUE(mutex.TryLock());
  ASSERT_TRUE(mutex.TryLock());  // again, by the same thread

  bool otherThread = true;
  std::thread([&] { otherThread = mutex.TryLock(); }).join();
  EXPECT_FALSE(otherThread);
  const auto otherProcessTakes = [&] {
    return InChild([&] { return FileNamedMutex("RefreshServerList_QXV", dir.path()).TryLock(); });
  };
  EXPECT_FALSE(otherProcessTakes());

  mutex.Unlock();
  EXPECT_FALSE(otherProcessTakes());  // still held once
  std::thread([&] { mutex.Unlock(); }).join();  // not the holder: no effect
  EXPECT_FALSE(otherProcessTakes());
  mutex.Unlock();
  EXPECT_TRUE(otherProcessTakes());
}

TEST(NamedMutex, AHolderThatDiesFreesTheName) {
  testing::TempDir dir;
  const pid_t child = ::fork();
  if (child == 0) {
    FileNamedMutex held("Corvana", dir.path());
    if (!held.TryLock()) ::_exit(1);
    ::pause();
  }
  FileNamedMutex mutex("Corvana", dir.path());
  ASSERT_TRUE(testing::Eventually([&] {
    if (!mutex.TryLock()) return true;  // the child holds it now
    mutex.Unlock();
    return false;
  }));
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_TRUE(mutex.TryLock());
}

TEST(NamedMutex, LockFolderRules) {
  testing::TempDir dir;
  const std::string mine = dir / "locks";
  ::setenv("TESSARO_LOCK_DIR", mine.c_str(), 1);
  EXPECT_EQ(NamedMutexDirectory(), mine);
  struct stat st {};
  ASSERT_EQ(::stat(mine.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // A folder others may write into could let them hold our names.
  ::chmod(mine.c_str(), 0777);
  EXPECT_EQ(NamedMutexDirectory(), "");
  FileNamedMutex unusable("Corvana", "");
  EXPECT_FALSE(unusable.Valid());
  EXPECT_FALSE(unusable.TryLock());
  ::unsetenv("TESSARO_LOCK_DIR");
}

}  // namespace
}  // namespace tessaro
