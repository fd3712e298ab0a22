// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "base/Result.h"

namespace tessaro {

// Whether `path` can hold the named mutexes' lock files, after making it (0700) when it is
// missing: a real folder of this user that nobody else may write into. Fails with why not.
Result<> CheckLockFolder(const std::string& path);

// The lock folders to try, best first: $TESSARO_LOCK_DIR, $XDG_RUNTIME_DIR/tessaro,
// /tmp/tessaro-<uid>. Every copy of the same user's session sees the same list.
std::vector<std::string> LockFolderCandidates();
// Where a private lock folder may be made: $XDG_RUNTIME_DIR, then /tmp.
std::vector<std::string> PrivateLockFolderParents();

// Picks the lock folder: the first usable candidate, else, as the last resort, a private folder
// ("tessaro-<uid>-private.XXXXXX") made under the first parent that allows one. A private
// folder's locks reach no other process, but they still work for this one. It is made once,
// reused while usable, and removed with its lock files when the process exits.
class LockFolderChooser {
 public:
  // Whenever the first candidate is passed over, one line on `warnings` names it and the folder
  // used instead; the same line is not repeated.
  explicit LockFolderChooser(std::FILE* warnings) : warnings_(warnings) {}

  // Empty when not even a private folder could be made.
  std::string Choose(const std::vector<std::string>& candidates,
                     const std::vector<std::string>& privateParents);

 private:
  std::string PrivateFolder(const std::vector<std::string>& parents);
  void WarnOnce(const std::string& line);

  std::FILE* warnings_;
  std::string private_;
  std::string lastWarning_;
};

}  // namespace tessaro
