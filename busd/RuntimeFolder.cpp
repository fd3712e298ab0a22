// SPDX-License-Identifier: GPL-2.0-or-later
#include "busd/RuntimeFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "busd/Log.h"
#include "protocol/BusFrame.h"

namespace tessaro::busd {

namespace {

constexpr gid_t kNoGroup = static_cast<gid_t>(-1);

gid_t LookUpGroup(const std::string& name, const Logger& log) {
  if (const struct group* g = ::getgrnam(name.c_str())) return g->gr_gid;
  log.Warning("group '" + name + "' does not exist; sockets keep this process's group");
  return kNoGroup;
}

const char* ClassName(bool trunk) { return trunk ? busipc::kTrunkClassDir : busipc::kSpurClassDir; }

bool IsDecimalName(const char* name) {
  if (*name == '\0') return false;
  for (const char* p = name; *p; ++p)
    if (*p < '0' || *p > '9') return false;
  return true;
}

std::string ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// Only a socket is ours to remove: any other file someone put there stays as it is.
void RemoveIfSocket(int folder, const std::string& name) {
  struct stat st {};
  if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISSOCK(st.st_mode))
    ::unlinkat(folder, name.c_str(), 0);
}

// Socket files left by a busd that did not end cleanly; nobody listens on them.
void RemoveStaleSockets(int folder) {
  // A descriptor of its own: closedir closes it, and reading moves only its offset.
  const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return;
  DIR* d = ::fdopendir(listing);
  if (d == nullptr) {
    ::close(listing);
    return;
  }
  while (const dirent* e = ::readdir(d))
    if (IsDecimalName(e->d_name)) RemoveIfSocket(folder, e->d_name);
  ::closedir(d);
}

}  // namespace

Result<std::unique_ptr<RuntimeFolder>> RuntimeFolder::Prepare(const std::string& dir,
                                                              const std::string& group,
                                                              const Logger& log) {
  if (dir.size() > busipc::kMaxRuntimeDirLength) {
    return Failure("runtime folder path '" + dir + "' is " + std::to_string(dir.size()) +
                   " bytes long; at most " + std::to_string(busipc::kMaxRuntimeDirLength) +
                   " fit a Unix socket address");
  }
  std::unique_ptr<RuntimeFolder> folder(new RuntimeFolder(dir, LookUpGroup(group, log), log));
  auto dirFd = folder->OpenFolder(AT_FDCWD, dir, 0770, folder->createdDir_);
  if (!dirFd) return Failure(dirFd.error());
  folder->dirFd_ = std::move(*dirFd);
  for (const bool trunk : {true, false}) {
    auto classFd = folder->OpenFolder(folder->dirFd_.get(), ClassName(trunk), 0750,
                                      folder->createdClass_[trunk]);
    if (!classFd) return Failure(classFd.error());
    folder->classFd_[trunk] = std::move(*classFd);
  }
  if (ConnectUnix(busipc::ClassFolder(dir, true) + "/0").valid())
    return Failure("another busd already serves " + dir);
  RemoveStaleSockets(folder->classFd_[true].get());
  RemoveStaleSockets(folder->classFd_[false].get());
  return folder;
}

Result<UniqueFd> RuntimeFolder::OpenFolder(int parent, const std::string& name, mode_t mode,
                                           bool& created) {
  const std::string path = parent == AT_FDCWD ? name : dir_ + "/" + name;
  created = ::mkdirat(parent, name.c_str(), mode) == 0;
  if (!created && errno != EEXIST) {
    return Failure("cannot create folder " + path + ": " + std::strerror(errno));
  }
  struct stat st {};
  if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return Failure("cannot examine " + path + ": " + std::strerror(errno));
  }
  if (S_ISLNK(st.st_mode)) {
    return Failure(path + " is a symbolic link; busd uses only a real folder there");
  }
  if (!S_ISDIR(st.st_mode)) {
    return Failure(path + " exists and is not a folder");
  }
  // O_NOFOLLOW: what was examined above may have been swapped for a link since.
  UniqueFd fd(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) {
    return Failure("cannot open folder " + path + ": " + std::strerror(errno));
  }
  if (created) {
    ::fchmod(fd.get(), mode);  // mkdir's mode passes through the umask
    ApplyGroup(fd.get(), "", path);
  }
  // The checks apply to the folder actually opened, whoever made it.
  if (::fstat(fd.get(), &st) != 0) {
    return Failure("cannot examine " + path + ": " + std::strerror(errno));
  }
  if (st.st_uid != ::geteuid()) {
    return Failure(path + " belongs to user " + std::to_string(st.st_uid) +
                   ", not to busd's user " + std::to_string(::geteuid()) +
                   "; remove it or give it to busd's user");
  }
  // Group write is what busd itself grants: to its group, or to its own group where that one
  // could not be given. Any other group, or others, could swap the sockets for their own.
  const bool ownGroup = st.st_gid == ::getegid() || (gid_ != kNoGroup && st.st_gid == gid_);
  if ((st.st_mode & S_IWOTH) != 0 || ((st.st_mode & S_IWGRP) != 0 && !ownGroup)) {
    return Failure(path + " can be written by other users (mode " + ModeText(st.st_mode) +
                   ", group " + std::to_string(st.st_gid) +
                   "); busd uses only a folder others cannot change");
  }
  return fd;
}

void RuntimeFolder::ApplyGroup(int folder, const std::string& name, const std::string& path) {
  if (gid_ == kNoGroup) return;
  const int result = name.empty() ? ::fchown(folder, static_cast<uid_t>(-1), gid_)
                                  : ::fchownat(folder, name.c_str(), static_cast<uid_t>(-1), gid_,
                                               AT_SYMLINK_NOFOLLOW);
  if (result != 0) log_.Warning("cannot give " + path + " to its group: " + std::strerror(errno));
}

Result<UniqueFd> RuntimeFolder::Listen(bool trunk, int number) {
  const int folder = classFd_[trunk].get();
  const std::string name = std::to_string(number);
  const std::string path = busipc::ClassFolder(dir_, trunk) + "/" + name;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);  // fits: the folder is short
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  RemoveIfSocket(folder, name);
  if (!fd.valid() || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    return Failure("cannot bind " + path + ": " + std::strerror(errno));
  }
  sockets_.push_back({trunk, name});
  // A socket file's mode cannot be set through the socket's descriptor; the name is looked up
  // in the checked folder, which only busd's user can change.
  if (::fchmodat(folder, name.c_str(), 0660, 0) != 0) {
    return Failure("cannot open " + path + " to its group: " + std::strerror(errno));
  }
  ApplyGroup(folder, name, path);
  if (::listen(fd.get(), 64) != 0) {
    return Failure("cannot listen on " + path + ": " + std::strerror(errno));
  }
  return fd;
}

RuntimeFolder::~RuntimeFolder() {
  for (const auto& s : sockets_) ::unlinkat(classFd_[s.trunk].get(), s.name.c_str(), 0);
  for (const bool trunk : {true, false})
    if (createdClass_[trunk])  // fails, harmlessly, where others left files
      ::unlinkat(dirFd_.get(), ClassName(trunk), AT_REMOVEDIR);
  if (createdDir_) ::rmdir(dir_.c_str());
}

}  // namespace tessaro::busd
