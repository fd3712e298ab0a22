// SPDX-License-Identifier: GPL-2.0-or-later
// What the small "please wait" window shows while pages are being saved.
#pragma once

namespace tessaro {

inline constexpr const char* kSaveFileCaption = "Save to File...";
inline constexpr const char* kSaveFileTitle = "!!!  Saving Picture  !!!";
inline constexpr const char* kSaveFileText = "Please wait a moment !";
inline constexpr int kSaveFileProgressMax = 100;  // percent of the group's pages dealt with

}  // namespace tessaro
