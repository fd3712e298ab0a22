// SPDX-License-Identifier: GPL-2.0-or-later
// The runtime folder with its two interface class folders, and the Unix sockets busd listens
// on inside them. Removes, when it goes, the sockets it made and the folders it created.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/FileHandle.h"

namespace tessaro::busd {

class RuntimeFolder {
 public:
  // Nullptr, with `error` set, when the folder cannot be used (path too long, cannot be created,
  // another busd already serves it).
  static std::unique_ptr<RuntimeFolder> Prepare(const std::string& dir, const std::string& group,
                                                std::string& error);
  ~RuntimeFolder();
  RuntimeFolder(const RuntimeFolder&) = delete;
  RuntimeFolder& operator=(const RuntimeFolder&) = delete;

  // A listening socket named `number` in the Trunk or Spur class folder, mode 0660.
  UniqueFd Listen(bool trunk, int number, std::string& error);

 private:
  RuntimeFolder(std::string dir, gid_t gid) : dir_(std::move(dir)), gid_(gid) {}
  bool MakeFolder(const std::string& path, mode_t mode, std::string& error);
  void ApplyGroup(const std::string& path);

  std::string dir_;
  gid_t gid_;
  std::vector<std::string> createdFolders_;  // in creation order
  std::vector<std::string> sockets_;
};

}  // namespace tessaro::busd
