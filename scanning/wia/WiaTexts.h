// SPDX-License-Identifier: GPL-2.0-or-later
// What the WIA scan path and Scan Now say.
#pragma once

#include "scanning/twain/ScanTexts.h"

namespace tessaro::wia {

// Said alike by the TWAIN scan window.
using twain::SFile_Open_Exist;
using twain::SFile_Save_Err;
using twain::SNo_PFile_Name;
using twain::SNo_PFile_Path;
using twain::STimeout;

inline constexpr char kWiaCaption[] = "Network Scanner";
inline constexpr char kDialogCancelled[] = "The user canceled the dialog box.";
inline constexpr char kScanCancelled[] = "The user canceled the scan.";
inline constexpr char kFeederEmpty[] =
    "The user requested a scan and there are no documents left in the document feeder.";
inline constexpr char kCancellingScan[] = "Canceling scan";
inline constexpr char kCancelledScan[] = "Canceled scan";

}  // namespace tessaro::wia
