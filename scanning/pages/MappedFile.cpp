// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/pages/MappedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/FileHandle.h"

namespace tessaro {

MappedFile::~MappedFile() { Close(); }

void MappedFile::Close() {
  if (data_ != nullptr && size_ > 0) ::munmap(const_cast<uint8_t*>(data_), size_);
  data_ = nullptr;
  size_ = 0;
}

bool MappedFile::Open(const std::string& path) {
  Close();
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (st.st_size == 0) return true;  // an empty file maps to no bytes
  void* p = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd.get(), 0);
  if (p == MAP_FAILED) return false;
  data_ = static_cast<const uint8_t*>(p);
  size_ = static_cast<size_t>(st.st_size);
  return true;
}

size_t ReadAt(int fd, std::span<uint8_t> into, uint64_t offset) {
  size_t got = 0;
  while (got < into.size()) {
    const ssize_t n =
        ::pread(fd, into.data() + got, into.size() - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  return got;
}

}  // namespace tessaro
