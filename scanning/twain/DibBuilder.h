// SPDX-License-Identifier: GPL-2.0-or-later
// A scanner frame made into a packed DIB (info header, palette, rows bottom-up) in a global
// block: 1-bit line art, 8-bit grey or 24-bit colour; 16-bit samples keep their high byte.
// Parameters a scanner sends are checked before any memory is taken for them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/Result.h"
#include "platform/ScannerSource.h"
#include "scanning/twain/TwainTypes.h"

namespace tessaro::twain {

inline constexpr int32_t kMaxDibSide = 65500;
inline constexpr int64_t kMaxDibPixels = int64_t{1} << 28;

struct DibPlan {
  FrameParameters frame;
  int32_t bitCount = 0;         // 1, 8 or 24
  uint32_t paletteColours = 0;  // 2, 256 or 0
  uint32_t stride = 0;          // DIB row bytes, padded to four
};

// The plan, or why the parameters cannot be a page.
Result<DibPlan> PlanDib(const FrameParameters& frame);

// Collects a frame's rows (top first, as scanners send them) and makes the DIB.
class DibAssembler {
 public:
  DibAssembler(const DibPlan& plan, int32_t dotsPerInch);
  DibAssembler(const DibAssembler&) = delete;
  DibAssembler& operator=(const DibAssembler&) = delete;
  ~DibAssembler();

  // Converts one scanner row of plan.frame.bytesPerLine bytes; false with Error() set when it
  // cannot be kept (a row too many, a frame too long, no memory).
  bool AddRow(std::span<const uint8_t> row);
  // The finished DIB, handed over to the caller; nullptr with Error() set when the rows do not
  // make the frame the parameters announced.
  TW_HANDLE Finish();
  const std::string& Error() const { return error_; }

 private:
  void ConvertRow(std::span<const uint8_t> row, uint8_t* out) const;
  TW_HANDLE MakeBlock(int32_t height);

  DibPlan plan_;
  int32_t dotsPerInch_;
  int32_t rows_ = 0;
  TW_HANDLE block_ = nullptr;     // known height: rows go straight into place
  std::vector<uint8_t> pending_;  // unknown height: converted rows until the frame ends
  std::string error_;
};

// The whole DIB of `frame` from `data` (rows one after another): the fuzzed path.
Result<TW_HANDLE> BuildDib(const FrameParameters& frame, std::span<const uint8_t> data,
                           int32_t dotsPerInch);

}  // namespace tessaro::twain
