// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/MappedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "protocol/Fd.h"

namespace tessaro {

MappedFile::~MappedFile() { Close(); }

void MappedFile::Close() {
  if (data_ != nullptr && size_ > 0) ::munmap(const_cast<uint8_t*>(data_), size_);
  data_ = nullptr;
  size_ = 0;
}

void MappedFile::Release(std::span<const uint8_t> range) const {
  if (data_ == nullptr || range.data() < data_ || range.data() + range.size() > data_ + size_) return;
  const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto begin = (reinterpret_cast<uintptr_t>(range.data()) + page - 1) / page * page;
  const auto end = reinterpret_cast<uintptr_t>(range.data() + range.size()) / page * page;
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
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

}  // namespace tessaro
