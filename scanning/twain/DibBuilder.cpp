// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/twain/DibBuilder.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "scanning/twain/GlobalBlock.h"

namespace tessaro::twain {
namespace {

constexpr uint32_t kInfoHeaderSize = 40;
// Beyond this the pels-per-metre field of the header would overflow.
constexpr int32_t kMaxDotsPerInch = 65535;
// Room for a scanner's padding at a row's end, never for a row of absurd length.
constexpr int64_t kMaxRowPadding = 4096;

int Channels(FrameFormat format) { return format == FrameFormat::kRgb ? 3 : 1; }

void PutLe32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}
void PutLe16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace

Result<DibPlan> PlanDib(const FrameParameters& frame) {
  if (frame.format != FrameFormat::kGray && frame.format != FrameFormat::kRgb) {
    return Failure("The scanner sends colours in separate passes, which is not supported");
  }
  if (frame.depth != 1 && frame.depth != 8 && frame.depth != 16) {
    return Failure("The scanner sends " + std::to_string(frame.depth) + " bits per sample");
  }
  if (frame.format == FrameFormat::kRgb && frame.depth == 1) {
    return Failure("The scanner sends one bit per colour, which is not supported");
  }
  if (frame.pixelsPerLine < 1 || frame.pixelsPerLine > kMaxDibSide) {
    return Failure("The scanner announced a page " + std::to_string(frame.pixelsPerLine) +
                   " pixels wide");
  }
  if (frame.lines == 0 || frame.lines < -1 || frame.lines > kMaxDibSide ||
      int64_t{frame.pixelsPerLine} * frame.lines > kMaxDibPixels) {
    return Failure("The scanner announced a page " + std::to_string(frame.lines) + " lines long");
  }
  const int64_t rowBits = int64_t{frame.pixelsPerLine} * Channels(frame.format) * frame.depth;
  const int64_t needed = (rowBits + 7) / 8;
  if (frame.bytesPerLine < needed || frame.bytesPerLine > needed + kMaxRowPadding) {
    return Failure("The scanner announced " + std::to_string(frame.bytesPerLine) +
                   " bytes per line for " + std::to_string(frame.pixelsPerLine) + " pixels");
  }
  DibPlan plan;
  plan.frame = frame;
  plan.bitCount = frame.format == FrameFormat::kRgb ? 24 : (frame.depth == 1 ? 1 : 8);
  plan.paletteColours = plan.bitCount == 1 ? 2 : (plan.bitCount == 8 ? 256 : 0);
  plan.stride = static_cast<uint32_t>((int64_t{frame.pixelsPerLine} * plan.bitCount + 31) / 32 * 4);
  return plan;
}

DibAssembler::DibAssembler(const DibPlan& plan, int32_t dotsPerInch)
    : plan_(plan), dotsPerInch_(std::clamp(dotsPerInch, 0, kMaxDotsPerInch)) {
  if (plan_.frame.lines > 0) {
    block_ = MakeBlock(plan_.frame.lines);
    if (block_ == nullptr) error_ = "Not enough memory for the page";
  }
}

DibAssembler::~DibAssembler() { GlobalBlockFree(block_); }

TW_HANDLE DibAssembler::MakeBlock(int32_t height) {
  const uint32_t paletteBytes = plan_.paletteColours * 4;
  const uint64_t imageBytes = uint64_t{plan_.stride} * static_cast<uint32_t>(height);
  TW_HANDLE block = GlobalBlockAlloc(kInfoHeaderSize + paletteBytes + imageBytes);
  auto* bytes = static_cast<uint8_t*>(GlobalBlockLock(block));
  if (bytes == nullptr) return nullptr;
  const auto pelsPerMetre = static_cast<uint32_t>(dotsPerInch_ * 39.37 + 0.5);
  PutLe32(bytes, kInfoHeaderSize);
  PutLe32(bytes + 4, static_cast<uint32_t>(plan_.frame.pixelsPerLine));
  PutLe32(bytes + 8, static_cast<uint32_t>(height));
  PutLe16(bytes + 12, 1);
  PutLe16(bytes + 14, static_cast<uint16_t>(plan_.bitCount));
  PutLe32(bytes + 20, static_cast<uint32_t>(imageBytes));
  PutLe32(bytes + 24, pelsPerMetre);
  PutLe32(bytes + 28, pelsPerMetre);
  PutLe32(bytes + 32, plan_.paletteColours);
  uint8_t* palette = bytes + kInfoHeaderSize;
  for (uint32_t i = 0; i < plan_.paletteColours; ++i) {
    // Line art: a set bit is black. Grey: entry i is grey level i.
    const auto level = static_cast<uint8_t>(plan_.bitCount == 1 ? (i == 0 ? 255 : 0) : i);
    palette[4 * i] = palette[4 * i + 1] = palette[4 * i + 2] = level;
  }
  GlobalBlockUnlock(block);
  return block;
}

void DibAssembler::ConvertRow(std::span<const uint8_t> row, uint8_t* out) const {
  const int32_t width = plan_.frame.pixelsPerLine;
  if (plan_.bitCount == 1) {
    std::memcpy(out, row.data(), static_cast<std::size_t>((width + 7) / 8));
    return;
  }
  // 16-bit samples come in the machine's byte order; their high byte is the 8-bit value.
  const bool wide = plan_.frame.depth == 16;
  auto sample = [&](int64_t index) -> uint8_t {
    if (!wide) return row[static_cast<std::size_t>(index)];
    uint16_t value = 0;
    std::memcpy(&value, row.data() + 2 * index, 2);
    return static_cast<uint8_t>(value >> 8);
  };
  if (plan_.bitCount == 8) {
    for (int32_t x = 0; x < width; ++x) out[x] = sample(x);
    return;
  }
  for (int32_t x = 0; x < width; ++x) {  // RGB in, BGR out
    out[3 * x] = sample(3 * int64_t{x} + 2);
    out[3 * x + 1] = sample(3 * int64_t{x} + 1);
    out[3 * x + 2] = sample(3 * int64_t{x});
  }
}

bool DibAssembler::AddRow(std::span<const uint8_t> row) {
  if (!error_.empty()) return false;
  if (row.size() != static_cast<std::size_t>(plan_.frame.bytesPerLine)) {
    error_ = "A row of the page has the wrong length";
    return false;
  }
  if (plan_.frame.lines > 0) {
    if (rows_ >= plan_.frame.lines) {
      error_ = "The scanner sent more lines than it announced";
      return false;
    }
    auto* bytes = static_cast<uint8_t*>(GlobalBlockLock(block_));
    uint8_t* pixels = bytes + kInfoHeaderSize + plan_.paletteColours * 4;
    ConvertRow(row, pixels + uint64_t{plan_.stride} *
                                 static_cast<uint32_t>(plan_.frame.lines - 1 - rows_));
    GlobalBlockUnlock(block_);
  } else {
    if (rows_ >= kMaxDibSide || int64_t{rows_ + 1} * plan_.frame.pixelsPerLine > kMaxDibPixels) {
      error_ = "The page is longer than a page can be";
      return false;
    }
    pending_.resize(pending_.size() + plan_.stride, 0);
    ConvertRow(row, pending_.data() + pending_.size() - plan_.stride);
  }
  ++rows_;
  return true;
}

TW_HANDLE DibAssembler::Finish() {
  if (!error_.empty()) return nullptr;
  if (plan_.frame.lines > 0) {
    if (rows_ != plan_.frame.lines) {
      error_ = "The scanner sent " + std::to_string(rows_) + " of the " +
               std::to_string(plan_.frame.lines) + " lines it announced";
      return nullptr;
    }
    return std::exchange(block_, nullptr);
  }
  if (rows_ == 0) {
    error_ = "The scanner sent no image data";
    return nullptr;
  }
  TW_HANDLE block = MakeBlock(rows_);
  auto* bytes = static_cast<uint8_t*>(GlobalBlockLock(block));
  if (bytes == nullptr) {
    error_ = "Not enough memory for the page";
    return nullptr;
  }
  uint8_t* pixels = bytes + kInfoHeaderSize + plan_.paletteColours * 4;
  for (int32_t y = 0; y < rows_; ++y) {
    std::memcpy(pixels + uint64_t{plan_.stride} * static_cast<uint32_t>(rows_ - 1 - y),
                pending_.data() + uint64_t{plan_.stride} * static_cast<uint32_t>(y), plan_.stride);
  }
  GlobalBlockUnlock(block);
  std::vector<uint8_t>().swap(pending_);
  return block;
}

Result<TW_HANDLE> BuildDib(const FrameParameters& frame, std::span<const uint8_t> data,
                           int32_t dotsPerInch) {
  const auto plan = PlanDib(frame);
  if (!plan) return Failure(plan.error());
  DibAssembler assembler(*plan, dotsPerInch);
  const auto rowBytes = static_cast<std::size_t>(plan->frame.bytesPerLine);
  for (std::size_t at = 0; at + rowBytes <= data.size(); at += rowBytes) {
    if (!assembler.AddRow(data.subspan(at, rowBytes))) break;
  }
  if (assembler.Error().empty() && data.size() % rowBytes != 0)
    return Failure("The scanner sent less image data than it announced");
  TW_HANDLE dib = assembler.Finish();
  if (dib == nullptr) return Failure(assembler.Error());
  return dib;
}

}  // namespace tessaro::twain
