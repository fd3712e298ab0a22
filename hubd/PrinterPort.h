// SPDX-License-Identifier: GPL-2.0-or-later
// A real printer's usblp node, written without blocking hubd: what the printer does not take at
// once waits here (one piece at most, since its sender is read again only once that went), so a
// printer that stops taking data slows the PC's sending and never grows hubd's memory. When data
// stops moving or a write fails, the printer's own status (LPGETSTATUS) says why.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/FileHandle.h"

namespace tessaro::hubd {

class PrinterPort {
 public:
  // Opens the node; kStatusOk, or the status the job fails with.
  uint32_t Open(const std::string& node);
  // Writes what it can now and keeps the rest; a status on failure.
  uint32_t Write(std::span<const uint8_t> data);
  // Writes more of what waits (the node said it takes more); a status on failure.
  uint32_t Flush();
  // Whether the printer's status is a reason data does not move (paper out, offline, error): its
  // status, or kStatusOk when it reports none (or the node has no status to give).
  uint32_t StatusFault() const;
  bool waiting() const { return at_ < waiting_.size(); }
  int fd() const { return fd_.get(); }

  // The status of a printer whose port status byte is `lpStatus` (the LPGETSTATUS bits).
  static uint32_t StatusOf(int lpStatus);
  // The status a failed write's errno stands for.
  static uint32_t StatusOfErrno(int error);

 private:
  UniqueFd fd_;
  std::vector<uint8_t> waiting_;
  size_t at_ = 0;
};

}  // namespace tessaro::hubd
