// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ScannerSource.h"

#include <algorithm>

namespace {
constexpr int kMaxEmptyReads = 1000;
}

namespace tessaro {

const char* ScanStatusText(ScanStatus status) {
  switch (status) {
    case ScanStatus::kGood: return "Success";
    case ScanStatus::kUnsupported: return "Operation not supported by the scanner";
    case ScanStatus::kCancelled: return "Scan cancelled";
    case ScanStatus::kDeviceBusy: return "The scanner is busy";
    case ScanStatus::kInvalid: return "Invalid value or scanner not ready";
    case ScanStatus::kEndOfFrame: return "End of the page";
    case ScanStatus::kJammed: return "The document feeder is jammed";
    case ScanStatus::kNoDocuments: return "The document feeder is out of documents";
    case ScanStatus::kCoverOpen: return "The scanner cover is open";
    case ScanStatus::kIoError: return "Error communicating with the scanner";
    case ScanStatus::kNoMemory: return "Out of memory";
    case ScanStatus::kAccessDenied: return "Access to the scanner was denied";
    case ScanStatus::kShortFrame: return "The scanner sent less image data than it announced";
  }
  return "Unknown scanner status";
}

FrameRowReader::FrameRowReader(ScannerDevice& device, int32_t bytesPerLine)
    : device_(device),
      bytesPerLine_(bytesPerLine > 0 ? static_cast<std::size_t>(bytesPerLine) : 0) {}

ScanStatus FrameRowReader::NextRow(std::vector<uint8_t>& row) {
  row.resize(bytesPerLine_);
  if (bytesPerLine_ == 0) return ScanStatus::kInvalid;
  std::size_t filled = 0;
  int emptyReads = 0;
  while (filled < bytesPerLine_) {
    std::size_t got = 0;
    const ScanStatus status = device_.Read(std::span<uint8_t>(row).subspan(filled), got);
    if (status == ScanStatus::kEndOfFrame) {
      return filled == 0 ? ScanStatus::kEndOfFrame : ScanStatus::kShortFrame;
    }
    if (status != ScanStatus::kGood) return status;
    // A device that answers "good" with nothing, again and again, would keep us here forever.
    if (got == 0 && ++emptyReads > kMaxEmptyReads) return ScanStatus::kIoError;
    if (got > 0) emptyReads = 0;
    filled += std::min(got, bytesPerLine_ - filled);
  }
  return ScanStatus::kGood;
}

}  // namespace tessaro
