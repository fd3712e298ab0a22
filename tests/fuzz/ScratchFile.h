// SPDX-License-Identifier: GPL-2.0-or-later
// One file of a fuzz target's own for the whole run, for code that reads from a path; removed at
// exit.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace tessaro::testing {

class ScratchFile {
 public:
  explicit ScratchFile(std::string pattern) : path_(std::move(pattern)) {
    const int fd = ::mkstemp(path_.data());
    if (fd >= 0) ::close(fd);
  }
  ~ScratchFile() { ::unlink(path_.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace tessaro::testing
