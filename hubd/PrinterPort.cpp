// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/PrinterPort.h"

#include <fcntl.h>
#include <linux/lp.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "hubd/DeviceTable.h"

namespace tessaro::hubd {

uint32_t PrinterPort::StatusOf(int lpStatus) {
  // The IEEE 1284 port status usblp reports: paper-empty set, select clear (offline), nError clear.
  if (lpStatus & LP_POUTPA) return kStatusOutOfPaper;
  if (!(lpStatus & LP_PSELECD)) return winerr::kNotReady;
  if (!(lpStatus & LP_PERRORP)) return winerr::kWriteFault;
  return winerr::kSuccess;
}

uint32_t PrinterPort::StatusOfErrno(int error) {
  switch (error) {
    case ENODEV:
    case ENXIO:
    case ENOENT:
    case ESHUTDOWN: return winerr::kNotReady;  // the printer is gone: the job waits for it
    default: return winerr::kWriteFault;
  }
}

uint32_t PrinterPort::Open(const std::string& node) {
  // O_APPEND: on a printer it changes nothing, on a file standing for one it keeps every job.
  fd_ = UniqueFd(::open(node.c_str(), O_WRONLY | O_NONBLOCK | O_APPEND | O_CLOEXEC));
  return fd_.valid() ? winerr::kSuccess : StatusOfErrno(errno);
}

uint32_t PrinterPort::StatusFault() const {
  int status = 0;
  if (::ioctl(fd_.get(), LPGETSTATUS, &status) != 0) return winerr::kSuccess;
  return StatusOf(status);
}

uint32_t PrinterPort::Write(std::span<const uint8_t> data) {
  if (waiting()) {  // the sender is not read while data waits; should it come, it queues
    waiting_.insert(waiting_.end(), data.begin(), data.end());
    return Flush();
  }
  // Straight from the piece: only what the printer does not take now is copied.
  while (!data.empty()) {
    const ssize_t n = ::write(fd_.get(), data.data(), data.size());
    if (n > 0) {
      data = data.subspan(static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  if (data.empty()) return winerr::kSuccess;
  waiting_.assign(data.begin(), data.end());
  at_ = 0;
  return Flush();  // says why it stopped: busy, a fault, or an error
}

uint32_t PrinterPort::Flush() {
  while (waiting()) {
    const ssize_t n = ::write(fd_.get(), waiting_.data() + at_, waiting_.size() - at_);
    if (n > 0) {
      at_ += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A printer that is merely busy takes the rest later; one that reports a fault will not.
      return StatusFault();
    } else {
      const int error = n < 0 ? errno : EIO;
      const uint32_t fault = StatusFault();
      return fault != winerr::kSuccess ? fault : StatusOfErrno(error);
    }
  }
  waiting_.clear();
  at_ = 0;
  return winerr::kSuccess;
}

}  // namespace tessaro::hubd
