// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/twain/GlobalBlock.h"

#include <cmath>
#include <cstdlib>
#include <new>

namespace tessaro::twain {
namespace {

// The size sits in front of the bytes, so a handle alone tells how large its block is.
struct BlockHeader {
  std::size_t size;
  alignas(std::max_align_t) unsigned char bytes[1];
};

BlockHeader* Header(TW_HANDLE handle) { return static_cast<BlockHeader*>(handle); }

}  // namespace

TW_HANDLE GlobalBlockAlloc(std::size_t size) {
  const std::size_t total = offsetof(BlockHeader, bytes) + size;
  if (total < size) return nullptr;
  void* memory = std::calloc(1, total);
  if (memory == nullptr) return nullptr;
  Header(memory)->size = size;
  return memory;
}

void* GlobalBlockLock(TW_HANDLE handle) {
  return handle != nullptr ? Header(handle)->bytes : nullptr;
}

void GlobalBlockUnlock(TW_HANDLE /*handle*/) {}

std::size_t GlobalBlockSize(TW_HANDLE handle) {
  return handle != nullptr ? Header(handle)->size : 0;
}

void GlobalBlockFree(TW_HANDLE handle) { std::free(handle); }

int32_t Fix32ToInt(TW_FIX32 value) {
  return static_cast<int32_t>(std::trunc(Fix32ToDouble(value)));
}

double Fix32ToDouble(TW_FIX32 value) { return value.Whole + value.Frac / 65536.0; }

TW_FIX32 IntToFix32(int32_t value) { return TW_FIX32{static_cast<TW_INT16>(value), 0}; }

TW_FIX32 DoubleToFix32(double value) {
  const auto scaled = static_cast<int32_t>(std::lround(value * 65536.0));
  return TW_FIX32{static_cast<TW_INT16>(scaled >> 16), static_cast<TW_UINT16>(scaled & 0xFFFF)};
}

}  // namespace tessaro::twain
