// SPDX-License-Identifier: GPL-2.0-or-later
// Temporary folders and the small file reads and writes tests make in them.
#pragma once

#include <string>

namespace tessaro::testing {

// A temporary folder removed with everything in it when the object goes.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "/tmp/tessaro-test.");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteTextFile(const std::string& path, const std::string& text);
// The file's bytes, empty when it cannot be read.
std::string ReadTextFile(const std::string& path);

}  // namespace tessaro::testing
