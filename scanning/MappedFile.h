// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace tessaro {

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
  // Tells the kernel the whole pages inside `range` (a part of bytes()) are no longer needed, so
  // they stop counting towards this process's memory; they stay in the page cache.
  void Release(std::span<const uint8_t> range) const;

 private:
  void Close();
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace tessaro
