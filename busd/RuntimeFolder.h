// SPDX-License-Identifier: GPL-2.0-or-later
// The runtime folder with its two interface class folders, and the Unix sockets busd listens
// on inside them. Removes, when it goes, the sockets it made and the folders it created.
//
// busd runs as root and the folder may sit where others can create names (/tmp), so a folder
// that is already there is used only when it is a real folder busd's user owns and nobody else
// can write to; everything inside is then reached through descriptors of the checked folders.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/FileHandle.h"
#include "base/Logger.h"
#include "base/Result.h"

namespace tessaro::busd {

class RuntimeFolder {
 public:
  // A failure when the folder cannot be used (path too long, cannot be created, not a folder
  // busd's user alone controls, another busd already serves it).
  static Result<std::unique_ptr<RuntimeFolder>> Prepare(const std::string& dir,
                                                        const std::string& group,
                                                        const Logger& log);
  ~RuntimeFolder();
  RuntimeFolder(const RuntimeFolder&) = delete;
  RuntimeFolder& operator=(const RuntimeFolder&) = delete;

  // A listening socket named `number` in the Trunk or Spur class folder, mode 0660.
  Result<UniqueFd> Listen(bool trunk, int number);

 private:
  RuntimeFolder(std::string dir, gid_t gid, const Logger& log)
      : dir_(std::move(dir)), gid_(gid), log_(log) {}
  // Makes or checks the folder `name` in `parent` (the runtime folder itself when `parent` is
  // AT_FDCWD and `name` its path); its descriptor.
  Result<UniqueFd> OpenFolder(int parent, const std::string& name, mode_t mode, bool& created);
  void ApplyGroup(int folder, const std::string& name, const std::string& path);

  std::string dir_;
  gid_t gid_;
  const Logger& log_;
  UniqueFd dirFd_;
  UniqueFd classFd_[2];  // [0] Spur, [1] Trunk
  bool createdDir_ = false;
  bool createdClass_[2] = {false, false};
  struct Socket {
    bool trunk;
    std::string name;
  };
  std::vector<Socket> sockets_;
};

}  // namespace tessaro::busd
