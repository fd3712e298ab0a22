// SPDX-License-Identifier: GPL-2.0-or-later
// Reading page files: opening them safely, whole-file mappings, and reads at a position into the
// caller's buffer.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "base/FileHandle.h"

namespace tessaro {

// Opens `path` (`access` is O_RDONLY or O_RDWR) only when it is a regular file; an invalid
// UniqueFd otherwise. The open itself never waits: it is made non-blocking, so a FIFO without a
// writer (or a device that would wait) is refused by the check that follows instead of hanging
// the caller, and the descriptor is blocking again once it is known to be a file. `st`, when
// given, receives the file's status.
UniqueFd OpenRegularFile(const std::string& path, int access, struct stat* st = nullptr);

// A whole file mapped read-only, so a page is read without copying it into the heap.
class MappedFile {
 public:
  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile();

  // False when the file cannot be opened, is not a regular file or cannot be mapped.
  bool Open(const std::string& path);
  std::span<const uint8_t> bytes() const { return {data_, size_}; }

 private:
  void Close();
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// Reads up to `into.size()` bytes from `offset` on, retrying interrupted and short reads; how
// many it got (fewer only at the end of the file or on an error).
size_t ReadAt(int fd, std::span<uint8_t> into, uint64_t offset);

}  // namespace tessaro
