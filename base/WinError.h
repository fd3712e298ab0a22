// SPDX-License-Identifier: GPL-2.0-or-later
// The Windows error numbers our programs speak: the bus, the registry and the device servers
// answer with them unchanged, and the client compares against them.
#pragma once

#include <cstdint>

namespace tessaro::winerr {

inline constexpr uint32_t kSuccess = 0;
inline constexpr uint32_t kInvalidFunction = 1;
inline constexpr uint32_t kFileNotFound = 2;
inline constexpr uint32_t kAccessDenied = 5;
inline constexpr uint32_t kInvalidHandle = 6;
inline constexpr uint32_t kNotReady = 21;
inline constexpr uint32_t kWriteFault = 29;
inline constexpr uint32_t kGenFailure = 31;
inline constexpr uint32_t kNotSupported = 50;
inline constexpr uint32_t kInvalidParameter = 87;
inline constexpr uint32_t kBusy = 170;
inline constexpr uint32_t kMoreData = 234;
inline constexpr uint32_t kNoMoreItems = 0x103;
inline constexpr uint32_t kOperationAborted = 995;
inline constexpr uint32_t kRegistryIoFailed = 1016;
inline constexpr uint32_t kKeyDeleted = 1018;
inline constexpr uint32_t kNotFound = 1168;
inline constexpr uint32_t kTimeout = 1460;
inline constexpr uint32_t kServerUnavailable = 1722;  // RPC_S_SERVER_UNAVAILABLE
inline constexpr uint32_t kInvalidPrinterName = 1801;

}  // namespace tessaro::winerr
