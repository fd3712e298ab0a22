// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/linux/LockFolder.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

namespace tessaro {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The private folders made here, each with the process that made it: a folder goes when its
// maker exits, not when a forked child of it does.
struct PrivateFolders {
  std::mutex guard;
  std::vector<std::pair<pid_t, std::string>> made;
};

PrivateFolders& MadeHere() {
  static auto* folders = new PrivateFolders;  // never destroyed: the exit handler still reads it
  return *folders;
}

void RemoveFolderAndContent(const std::string& path) {
  if (DIR* dir = ::opendir(path.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") ::unlink((path + "/" + name).c_str());
    }
    ::closedir(dir);
  }
  ::rmdir(path.c_str());
}

void RemovePrivateFolders() {
  auto& folders = MadeHere();
  const std::lock_guard lock(folders.guard);
  for (const auto& [maker, path] : folders.made)
    if (maker == ::getpid()) RemoveFolderAndContent(path);
}

void RemoveAtExit(const std::string& path) {
  static std::once_flag registered;
  std::call_once(registered, [] { std::atexit(RemovePrivateFolders); });
  auto& folders = MadeHere();
  const std::lock_guard lock(folders.guard);
  folders.made.emplace_back(::getpid(), path);
}

}  // namespace

Result<> CheckLockFolder(const std::string& path) {
  if (path.empty()) return Failure("no path");
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return Failure(std::strerror(errno));
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return Failure(std::strerror(errno));
  if (!S_ISDIR(st.st_mode)) return Failure("not a folder");
  // Otherwise another user could hold our names, or take them away.
  if (st.st_uid != ::geteuid()) return Failure("owned by another user");
  if ((st.st_mode & 022) != 0) return Failure("others may write into it");
  return {};
}

std::vector<std::string> LockFolderCandidates() {
  std::vector<std::string> candidates;
  if (const auto dir = Environment("TESSARO_LOCK_DIR"); !dir.empty()) candidates.push_back(dir);
  if (const auto xdg = Environment("XDG_RUNTIME_DIR"); !xdg.empty())
    candidates.push_back(xdg + "/tessaro");
  candidates.push_back("/tmp/tessaro-" + std::to_string(::geteuid()));
  return candidates;
}

std::vector<std::string> PrivateLockFolderParents() {
  std::vector<std::string> parents;
  if (const auto xdg = Environment("XDG_RUNTIME_DIR"); !xdg.empty()) parents.push_back(xdg);
  parents.push_back("/tmp");
  return parents;
}

std::string LockFolderChooser::Choose(const std::vector<std::string>& candidates,
                                      const std::vector<std::string>& privateParents) {
  std::string passedOver;
  for (const auto& candidate : candidates) {
    const auto usable = CheckLockFolder(candidate);
    if (usable) {
      if (!passedOver.empty()) WarnOnce(passedOver + "; using " + candidate + " instead");
      return candidate;
    }
    if (passedOver.empty())
      passedOver = "lock folder " + candidate + " cannot be used (" + usable.error() + ")";
  }
  if (passedOver.empty()) passedOver = "no lock folder to try";
  const std::string folder = PrivateFolder(privateParents);
  if (folder.empty())
    WarnOnce(passedOver + ", and no private one could be made");
  else
    WarnOnce(passedOver + "; using " + folder + ", private to this process");
  return folder;
}

std::string LockFolderChooser::PrivateFolder(const std::vector<std::string>& parents) {
  if (!private_.empty() && CheckLockFolder(private_)) return private_;
  for (const auto& parent : parents) {
    std::string path = parent + "/tessaro-" + std::to_string(::geteuid()) + "-private.XXXXXX";
    if (::mkdtemp(path.data()) == nullptr) continue;
    // A default ACL of the parent could still open it to others.
    if (!CheckLockFolder(path)) {
      ::rmdir(path.c_str());
      continue;
    }
    RemoveAtExit(path);
    private_ = path;
    return path;
  }
  return {};
}

void LockFolderChooser::WarnOnce(const std::string& line) {
  if (line == lastWarning_) return;
  lastWarning_ = line;
  std::fprintf(warnings_, "%s: %s\n", program_invocation_short_name, line.c_str());
  std::fflush(warnings_);
}

}  // namespace tessaro
