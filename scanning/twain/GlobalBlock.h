// SPDX-License-Identifier: GPL-2.0-or-later
// Heap blocks standing for the movable global memory handles TWAIN passes around: a native
// transfer's DIB and a capability's container. Whoever is handed a block frees it.
#pragma once

#include <cstddef>

#include "scanning/twain/TwainTypes.h"

namespace tessaro::twain {

// nullptr when the memory cannot be had. The block's bytes start zeroed.
TW_HANDLE GlobalBlockAlloc(std::size_t size);
// The block's bytes (nullptr for a null handle); a lock needs no unlock beyond symmetry.
void* GlobalBlockLock(TW_HANDLE handle);
void GlobalBlockUnlock(TW_HANDLE handle);
std::size_t GlobalBlockSize(TW_HANDLE handle);
void GlobalBlockFree(TW_HANDLE handle);

}  // namespace tessaro::twain
