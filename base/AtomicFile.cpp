// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/AtomicFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/FileHandle.h"

namespace tessaro {

namespace {

std::string TempNameFor(const std::string& finalPath) {
  const auto slash = finalPath.rfind('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : finalPath.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? finalPath : finalPath.substr(slash + 1);
  return folder + "." + name + ".XXXXXX";
}

}  // namespace

bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

PendingFile::PendingFile(std::string finalPath, unsigned mode) : finalPath_(std::move(finalPath)) {
  std::string pattern = TempNameFor(finalPath_);
  fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ >= 0) {
    tempPath_ = pattern;
    ::fchmod(fd_, static_cast<mode_t>(mode));
  }
}

PendingFile::~PendingFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && !tempPath_.empty()) ::unlink(tempPath_.c_str());
}

bool PendingFile::Write(std::span<const uint8_t> bytes) {
  return fd_ >= 0 && WriteAll(fd_, bytes.data(), bytes.size());
}

bool PendingFile::SetOwner(unsigned uid, unsigned gid) {
  return fd_ >= 0 && ::fchown(fd_, static_cast<uid_t>(uid), static_cast<gid_t>(gid)) == 0;
}

bool PendingFile::CloseTemp() {
  if (fd_ < 0) {
    // Another writer filled the file by its path since; flush what it wrote. Non-blocking, so
    // that whatever stands at that name now cannot make the open wait.
    UniqueFd reopened(::open(tempPath_.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    return reopened.valid() && ::fsync(reopened.get()) == 0;
  }
  const bool synced = ::fsync(fd_) == 0;
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  return synced && closed;
}

bool PendingFile::Commit(bool replace) {
  if (tempPath_.empty() || !CloseTemp()) return false;
  const bool renamed = replace ? ::rename(tempPath_.c_str(), finalPath_.c_str()) == 0
                               : RenameNoReplace(tempPath_, finalPath_);
  committed_ = renamed;
  return renamed;
}

bool SyncFolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".")
                             : slash == 0               ? std::string("/")
                                                        : path.substr(0, slash);
  UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd.valid() && ::fsync(fd.get()) == 0;
}

}  // namespace tessaro
