// SPDX-License-Identifier: GPL-2.0-or-later
#include "busd/RuntimeFolder.h"

#include <dirent.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "busd/Log.h"
#include "protocol/BusFrame.h"

namespace tessaro::busd {

namespace {

constexpr gid_t kNoGroup = static_cast<gid_t>(-1);

gid_t LookUpGroup(const std::string& name) {
  if (const struct group* g = ::getgrnam(name.c_str())) return g->gr_gid;
  Log("warning: group '" + name + "' does not exist; sockets keep this process's group");
  return kNoGroup;
}

bool IsDecimalName(const char* name) {
  if (*name == '\0') return false;
  for (const char* p = name; *p; ++p)
    if (*p < '0' || *p > '9') return false;
  return true;
}

// Socket files left by a busd that did not end cleanly; nobody listens on them.
void RemoveStaleSockets(const std::string& folder) {
  DIR* d = ::opendir(folder.c_str());
  if (d == nullptr) return;
  while (const dirent* e = ::readdir(d))
    if (IsDecimalName(e->d_name)) ::unlink((folder + "/" + e->d_name).c_str());
  ::closedir(d);
}

}  // namespace

std::unique_ptr<RuntimeFolder> RuntimeFolder::Prepare(const std::string& dir,
                                                      const std::string& group,
                                                      std::string& error) {
  if (dir.size() > busipc::kMaxRuntimeDirLength) {
    error = "runtime folder path '" + dir + "' is " + std::to_string(dir.size()) +
            " bytes long; at most " + std::to_string(busipc::kMaxRuntimeDirLength) +
            " fit a Unix socket address";
    return nullptr;
  }
  if (ConnectUnix(busipc::ClassFolder(dir, true) + "/0").valid()) {
    error = "another busd already serves " + dir;
    return nullptr;
  }
  std::unique_ptr<RuntimeFolder> folder(new RuntimeFolder(dir, LookUpGroup(group)));
  for (const auto& [path, mode] :
       {std::pair{dir, mode_t{0770}}, std::pair{busipc::ClassFolder(dir, true), mode_t{0750}},
        std::pair{busipc::ClassFolder(dir, false), mode_t{0750}}}) {
    if (!folder->MakeFolder(path, mode, error)) return nullptr;
  }
  RemoveStaleSockets(busipc::ClassFolder(dir, true));
  RemoveStaleSockets(busipc::ClassFolder(dir, false));
  return folder;
}

bool RuntimeFolder::MakeFolder(const std::string& path, mode_t mode, std::string& error) {
  if (::mkdir(path.c_str(), mode) == 0) {
    createdFolders_.push_back(path);
    ::chmod(path.c_str(), mode);  // mkdir's mode passes through the umask
    ApplyGroup(path);
    return true;
  }
  struct stat st {};
  if (errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
  error = "cannot create folder " + path + ": " + std::strerror(errno);
  return false;
}

void RuntimeFolder::ApplyGroup(const std::string& path) {
  if (gid_ != kNoGroup && ::chown(path.c_str(), static_cast<uid_t>(-1), gid_) != 0)
    Log("warning: cannot give " + path + " to its group: " + std::strerror(errno));
}

UniqueFd RuntimeFolder::Listen(bool trunk, int number, std::string& error) {
  const std::string path = busipc::ClassFolder(dir_, trunk) + "/" + std::to_string(number);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);  // fits: the folder is short
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  ::unlink(path.c_str());
  if (!fd.valid() || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    error = "cannot bind " + path + ": " + std::strerror(errno);
    return UniqueFd{};
  }
  sockets_.push_back(path);
  ::chmod(path.c_str(), 0660);
  ApplyGroup(path);
  if (::listen(fd.get(), 64) != 0) {
    error = "cannot listen on " + path + ": " + std::strerror(errno);
    return UniqueFd{};
  }
  return fd;
}

RuntimeFolder::~RuntimeFolder() {
  for (const auto& s : sockets_) ::unlink(s.c_str());
  for (auto it = createdFolders_.rbegin(); it != createdFolders_.rend(); ++it)
    ::rmdir(it->c_str());  // fails, harmlessly, where others left files
}

}  // namespace tessaro::busd
