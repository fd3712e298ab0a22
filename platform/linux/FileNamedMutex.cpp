// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/linux/FileNamedMutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace tessaro {
namespace {

// The folder must be a real folder of this user that nobody else may write into; otherwise
// another user could hold our names.
bool UsableDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 022) == 0;
}

}  // namespace

std::string NamedMutexDirectory() {
  if (const char* dir = std::getenv("TESSARO_LOCK_DIR"); dir != nullptr && *dir != '\0') {
    return UsableDirectory(dir) ? dir : "";
  }
  std::string path;
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg != nullptr && *xdg != '\0') {
    path = std::string(xdg) + "/tessaro";
  } else {
    path = "/tmp/tessaro-" + std::to_string(::geteuid());
  }
  return UsableDirectory(path) ? path : "";
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
