// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>

namespace tessaro {

// Why a device is locked: by a print job that connected it by itself, or by the user's Connect.
// A device list reports 0 while nobody holds a lock.
enum class LockKind : uint8_t { Automatic = 1, Manual = 2 };

}  // namespace tessaro
