// SPDX-License-Identifier: GPL-2.0-or-later
// The named mutex: recursive for its holder, refused to other threads and processes, and free
// again when its holder dies; its lock folder, and the fallback when that folder is unusable.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>
#include <utility>

#include "platform/linux/FileNamedMutex.h"
#include "platform/linux/LockFolder.h"
#include "tests/support/Command.h"
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
  EXPECT_FALSE(otherProcessTakes());            // still held once
  std::thread([&] { mutex.Unlock(); }).join();  // not the holder: no effect
  EXPECT_FALSE(otherProcessTakes());
  mutex.Unlock();
  EXPECT_TRUE(otherProcessTakes());
}

TEST(NamedMutex, AHolderThatDiesFreesTheName) {
  testing::TempDir dir;
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    FileNamedMutex held("Corvana", dir.path());
    if (!held.TryLock()) ::_exit(1);
    const char byte = 1;
    if (::write(ready[1], &byte, 1) != 1) ::_exit(1);
    ::pause();
  }
  ::close(ready[1]);
  // The child says when it holds the name: polling for it here could take the name first and
  // make the child's only attempt fail.
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1) << "the child could not take the name";
  ::close(ready[0]);
  FileNamedMutex mutex("Corvana", dir.path());
  EXPECT_FALSE(mutex.TryLock());
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_TRUE(mutex.TryLock());
}

// An environment variable set for one scope, its earlier value (or absence) restored after.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Standard error of this process, kept while the object lives.
class CapturedStderr {
 public:
  CapturedStderr() : file_(std::tmpfile()), saved_(::dup(2)) {
    std::fflush(stderr);
    ::dup2(::fileno(file_), 2);
  }
  ~CapturedStderr() {
    Restore();
    if (file_ != nullptr) std::fclose(file_);
  }
  // Everything written so far; standard error is restored.
  std::string Text() {
    Restore();
    return testing::ReadAndClose(std::exchange(file_, nullptr));
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(std::exchange(saved_, -1));
  }
  std::FILE* file_;
  int saved_;
};

// A folder of another user: one handed over to nobody when we are root, else the root folder.
std::string ForeignFolder(const testing::TempDir& dir) {
  if (::geteuid() != 0) return "/";
  const std::string path = dir / "foreign";
  ::mkdir(path.c_str(), 0700);
  if (::chown(path.c_str(), 65534, 65534) != 0) ADD_FAILURE() << "chown " << path;
  return path;
}

TEST(NamedMutex, LockFolderRules) {
  testing::TempDir dir;
  const std::string mine = dir / "locks";
  const ScopedEnv lockDir("TESSARO_LOCK_DIR", mine);
  EXPECT_EQ(NamedMutexDirectory(), mine);
  struct stat st {};
  ASSERT_EQ(::stat(mine.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  FileNamedMutex unusable("Corvana", "");
  EXPECT_FALSE(unusable.Valid());
  EXPECT_FALSE(unusable.TryLock());
}

// Another local user who made the lock folder first, or a bad TESSARO_LOCK_DIR, must not leave
// the client without its locks: the next folder of the rule serves, and the user is told once.
TEST(NamedMutex, AnUnusableLockFolderFallsBackToTheNextAndSaysSoOnce) {
  testing::TempDir dir;
  const std::string writable = dir / "shared";
  ::mkdir(writable.c_str(), 0700);
  ::chmod(writable.c_str(), 0777);
  const std::string groupWritable = dir / "group";
  ::mkdir(groupWritable.c_str(), 0700);
  ::chmod(groupWritable.c_str(), 0770);
  testing::WriteTextFile(dir / "file", "not a folder\n");
  const std::string real = dir / "real";
  ::mkdir(real.c_str(), 0700);
  ::symlink(real.c_str(), (dir / "link").c_str());
  const std::string xdg = dir / "xdg";
  ::mkdir(xdg.c_str(), 0700);
  const ScopedEnv runtimeDir("XDG_RUNTIME_DIR", xdg);

  struct Case {
    std::string lockDir;
    const char* problem;
  } cases[] = {
      {writable, "others may write into it"},
      {groupWritable, "others may write into it"},
      {ForeignFolder(dir), "owned by another user"},
      {dir / "file", "not a folder"},
      {dir / "link", "not a folder"},
      {dir / "missing/locks", "No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lockDir);
    const ScopedEnv lockDir("TESSARO_LOCK_DIR", c.lockDir);
    CapturedStderr err;
    FileNamedMutex mutex("RefreshServerList_QXV");
    FileNamedMutex instance("Corvana");  // a second name: no second warning
    ASSERT_TRUE(mutex.Valid());
    EXPECT_EQ(mutex.Path(), xdg + "/tessaro/RefreshServerList_QXV.lock");
    EXPECT_TRUE(mutex.TryLock());
    EXPECT_TRUE(mutex.TryLock()) << "recursive";
    EXPECT_FALSE(InChild([] { return FileNamedMutex("RefreshServerList_QXV").TryLock(); }))
        << "refused to another process";
    mutex.Unlock();
    mutex.Unlock();
    EXPECT_TRUE(InChild([] { return FileNamedMutex("RefreshServerList_QXV").TryLock(); }));
    EXPECT_EQ(err.Text(), std::string(program_invocation_short_name) + ": lock folder " +
                              c.lockDir + " cannot be used (" + c.problem + "); using " + xdg +
                              "/tessaro instead\n");
  }
}

TEST(LockFolder, WithoutAUsableCandidateAPrivateFolderServesThisProcess) {
  testing::TempDir dir;
  testing::WriteTextFile(dir / "file", "");
  const std::vector<std::string> candidates = {dir / "file", dir / "missing/tessaro"};
  const std::vector<std::string> parents = {dir / "missing", dir.path()};
  std::FILE* warnings = std::tmpfile();
  LockFolderChooser chooser(warnings);
  const std::string folder = chooser.Choose(candidates, parents);
  ASSERT_EQ(folder.rfind(dir / "tessaro-" + std::to_string(::geteuid()) + "-private.", 0), 0u)
      << folder;
  const auto usable = CheckLockFolder(folder);
  EXPECT_TRUE(usable) << usable.error();
  struct stat st {};
  ASSERT_EQ(::stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(chooser.Choose(candidates, parents), folder) << "made once for the process";

  FileNamedMutex mutex("Corvana", folder);
  EXPECT_TRUE(mutex.TryLock());
  EXPECT_TRUE(mutex.TryLock());
  EXPECT_FALSE(InChild([&] { return FileNamedMutex("Corvana", folder).TryLock(); }));
  EXPECT_EQ(testing::ReadAndClose(warnings),
            std::string(program_invocation_short_name) + ": lock folder " + candidates[0] +
                " cannot be used (not a folder); using " + folder + ", private to this process\n");

  std::FILE* lastResort = std::tmpfile();
  LockFolderChooser nowhere(lastResort);
  EXPECT_EQ(nowhere.Choose(candidates, {dir / "missing"}), "");
  EXPECT_EQ(testing::ReadAndClose(lastResort),
            std::string(program_invocation_short_name) + ": lock folder " + candidates[0] +
                " cannot be used (not a folder), and no private one could be made\n");
}

TEST(LockFolder, APrivateFolderGoesWhenItsProcessExits) {
  testing::TempDir dir;
  std::fflush(nullptr);  // the child's exit flushes again whatever the parent had buffered
  const pid_t child = ::fork();
  if (child == 0) {
    LockFolderChooser chooser(std::tmpfile());
    const std::string folder = chooser.Choose({}, {dir.path()});
    FileNamedMutex mutex("Corvana", folder);
    if (folder.empty() || !mutex.TryLock()) ::_exit(1);
    std::exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace
}  // namespace tessaro
