// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/linux/FileNamedMutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/linux/LockFolder.h"

namespace tessaro {

std::string NamedMutexDirectory() {
  // One chooser for the process: a private folder is made once and the warning said once.
  static std::mutex guard;
  static LockFolderChooser chooser(stderr);
  const std::lock_guard lock(guard);
  return chooser.Choose(LockFolderCandidates(), PrivateLockFolderParents());
}

FileNamedMutex::FileNamedMutex(const std::string& name, const std::string& directory) {
  if (directory.empty() || name.empty() || name.find('/') != std::string::npos) return;
  path_ = directory + "/" + name + ".lock";
  fd_ = UniqueFd(::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
}

bool FileNamedMutex::TryLock() {
  if (!fd_.valid()) return false;
  std::lock_guard guard(state_);
  const auto self = std::this_thread::get_id();
  if (depth_ > 0) {
    if (owner_ != self) return false;
    ++depth_;
    return true;
  }
  int rc;
  do {
    rc = ::flock(fd_.get(), LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return false;
  owner_ = self;
  depth_ = 1;
  return true;
}

void FileNamedMutex::Unlock() {
  std::lock_guard guard(state_);
  if (depth_ == 0 || owner_ != std::this_thread::get_id()) return;
  if (--depth_ == 0) {
    ::flock(fd_.get(), LOCK_UN);
    owner_ = {};
  }
}

}  // namespace tessaro
