// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <mutex>
#include <string>
#include <thread>

#include "base/FileHandle.h"
#include "platform/NamedMutex.h"

namespace tessaro {

// The per-user folder of the named mutexes' lock files: the first usable of $TESSARO_LOCK_DIR,
// $XDG_RUNTIME_DIR/tessaro and /tmp/tessaro-<uid> (made 0700 when missing), else a private folder
// of this process (LockFolderChooser); passing over the first is said once on standard error.
// Empty only when not even a private folder can be made.
std::string NamedMutexDirectory();

// A named mutex as an exclusive flock on "<directory>/<name>.lock". The lock file stays behind
// (removing it could let two holders lock two different files); its lock dies with the process,
// so a crashed holder never leaves the name taken.
class FileNamedMutex : public NamedMutex {
 public:
  explicit FileNamedMutex(const std::string& name,
                          const std::string& directory = NamedMutexDirectory());
  // False when the lock file could not be opened; TryLock then always fails.
  bool Valid() const { return fd_.valid(); }
  const std::string& Path() const { return path_; }

  bool TryLock() override;
  void Unlock() override;

 private:
  std::string path_;
  UniqueFd fd_;
  std::mutex state_;
  std::thread::id owner_;
  int depth_ = 0;
};

}  // namespace tessaro
