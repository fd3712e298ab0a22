// SPDX-License-Identifier: GPL-2.0-or-later
// What both scan paths, the TWAIN scan window and the WIA dialogs, say about the group's name
// and folder, a page that cannot be saved and a scanner held elsewhere.
#pragma once

namespace tessaro::twain {

inline constexpr char SNo_PFile_Name[] = "Please input a name for this group of pictures !";
inline constexpr char SNo_PFile_Path[] = "Please choose a place to save this group of pictures !";
inline constexpr char SFile_Save_Err[] = "Can't save file : ";
inline constexpr char SFile_Open_Exist[] = "File existed already ! Overwirte?";
inline constexpr char STimeout[] = "This scanner was used by someone !";

}  // namespace tessaro::twain
