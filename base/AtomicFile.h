// SPDX-License-Identifier: GPL-2.0-or-later
// Final files appear whole or not at all: bytes go to a temporary file in the same folder,
// which is flushed and then renamed to its name.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace tessaro {

// A temporary file beside `finalPath`; removed on destruction unless committed.
class PendingFile {
 public:
  // `mode`: the file's permissions, set on the descriptor before any byte is written.
  explicit PendingFile(std::string finalPath, unsigned mode = 0644);
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile();

  bool ok() const { return fd_ >= 0; }
  const std::string& tempPath() const { return tempPath_; }
  bool Write(std::span<const uint8_t> bytes);
  // Gives the temporary file (and so the final one) to another owner; needs the privilege to.
  bool SetOwner(unsigned uid, unsigned gid);
  // Flushes and closes the temporary file (for writers that take a path), without renaming.
  bool CloseTemp();
  // Flushes it to disk and gives it its final name. Without `replace`, an existing file of that
  // name is left alone and the commit fails.
  bool Commit(bool replace);

 private:
  std::string finalPath_;
  std::string tempPath_;
  int fd_ = -1;
  bool committed_ = false;
};

// Renames `from` to `to` unless `to` exists, never replacing it even for a moment; link and
// unlink where the file system lacks RENAME_NOREPLACE.
bool RenameNoReplace(const std::string& from, const std::string& to);

// Flushes the folder that holds `path` to disk, so that a rename into it (a commit) outlasts a
// crash; false when it cannot be flushed.
bool SyncFolderOf(const std::string& path);

}  // namespace tessaro
