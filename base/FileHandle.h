// SPDX-License-Identifier: GPL-2.0-or-later
// Small POSIX descriptor helpers shared by busd, hubd and the bus transport.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace tessaro {

// Owns a file descriptor; closes it once.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& o) noexcept {
    if (this != &o) Reset(std::exchange(o.fd_, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int Release() { return std::exchange(fd_, -1); }
  void Reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Writes every byte (retrying on EINTR and short writes, never raising SIGPIPE); false on error.
bool WriteAll(int fd, const void* data, size_t length);
// Reads exactly `length` bytes; false on error or end of stream.
bool ReadExact(int fd, void* data, size_t length);
// Turns off Nagle's delay on a TCP socket: the control path sends small frames that must go at
// once.
void SetNoDelay(int fd);
// Connects a stream socket to a Unix socket path; an invalid UniqueFd on failure.
UniqueFd ConnectUnix(const std::string& path);

}  // namespace tessaro
