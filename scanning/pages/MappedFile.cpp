// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/pages/MappedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/FileHandle.h"

namespace tessaro {

UniqueFd OpenRegularFile(const std::string& path, int access, struct stat* st) {
  UniqueFd fd(::open(path.c_str(), access | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat own {};
  struct stat& status = st != nullptr ? *st : own;
  if (!fd.valid() || ::fstat(fd.get(), &status) != 0) return {};
  if (!S_ISREG(status.st_mode)) {
    errno = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
    return {};
  }
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return {};
  return fd;
}

MappedFile::~MappedFile() { Close(); }

void MappedFile::Close() {
  if (data_ != nullptr && size_ > 0) ::munmap(const_cast<uint8_t*>(data_), size_);
  data_ = nullptr;
  size_ = 0;
}

bool MappedFile::Open(const std::string& path) {
  Close();
  struct stat st {};
  const UniqueFd fd = OpenRegularFile(path, O_RDONLY, &st);
  if (!fd.valid()) return false;
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
