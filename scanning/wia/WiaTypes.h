// SPDX-License-Identifier: GPL-2.0-or-later
// The result codes, messages and property values of the WIA-shaped scan path, with the numbers
// of the Windows interface it mirrors so the session logic keeps its rules.
#pragma once

#include <cstdint>

namespace tessaro::wia {

using HResult = int32_t;

inline constexpr HResult kOk = 0;
inline constexpr HResult kFalse = 1;  // a cancelled dialog or transfer
inline constexpr HResult kFail = static_cast<HResult>(0x80004005);
inline constexpr HResult kPointer = static_cast<HResult>(0x80004003);
inline constexpr HResult kNoInterface = static_cast<HResult>(0x80004002);
inline constexpr HResult kErrorGeneral = static_cast<HResult>(0x80210001);
inline constexpr HResult kErrorPaperJam = static_cast<HResult>(0x80210002);
inline constexpr HResult kErrorPaperEmpty = static_cast<HResult>(0x80210003);
inline constexpr HResult kErrorOffline = static_cast<HResult>(0x80210005);
inline constexpr HResult kErrorBusy = static_cast<HResult>(0x80210006);
inline constexpr HResult kErrorDeviceCommunication = static_cast<HResult>(0x8021000A);
inline constexpr HResult kErrorCoverOpen = static_cast<HResult>(0x80210016);

// WIA_DPS_DOCUMENT_HANDLING_SELECT bits and the FEED_READY status.
inline constexpr uint32_t kFeeder = 0x1;
inline constexpr uint32_t kFlatbed = 0x2;
inline constexpr uint32_t kFeedReady = 0x1;

// The message a transfer's progress arrives with.
inline constexpr int32_t kMsgStatus = 3;

enum class ImageFormat { Bmp, Jpeg };

}  // namespace tessaro::wia
