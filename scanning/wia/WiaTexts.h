// SPDX-License-Identifier: GPL-2.0-or-later
// What the WIA scan path and Scan Now say.
#pragma once

namespace tessaro::wia {

inline constexpr char kWiaCaption[] = "Network Scanner";
inline constexpr char STimeout[] = "This scanner was used by someone !";
inline constexpr char kDialogCancelled[] = "The user canceled the dialog box.";
inline constexpr char kScanCancelled[] = "The user canceled the scan.";
inline constexpr char kFeederEmpty[] =
    "The user requested a scan and there are no documents left in the document feeder.";
inline constexpr char SFile_Save_Err[] = "Can't save file : ";
inline constexpr char SNo_PFile_Name[] = "Please input a name for this group of pictures !";
inline constexpr char SNo_PFile_Path[] = "Please choose a place to save this group of pictures !";
inline constexpr char SFile_Open_Exist[] = "File existed already ! Overwirte?";
inline constexpr char kCancellingScan[] = "Canceling scan";
inline constexpr char kCancelledScan[] = "Canceled scan";

}  // namespace tessaro::wia
