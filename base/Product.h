// SPDX-License-Identifier: GPL-2.0-or-later
// The product's names, said once: message captions, the registry key, the named mutex.
#pragma once

namespace tessaro {

inline constexpr const char* ProductName = "Tessaro Utility";
inline constexpr const char* CompanyName = "Corvana";
// The version the programs report; an installation records it in the machine hive as well.
inline constexpr const char* ProductVersion = "1.0";
inline constexpr const char* AppRegistryKey = "Software\\Corvana\\Tessaro Utility";
// The application's title: the start of the window caption and the single-instance mutex.
inline constexpr const char* kApplicationTitle = "Corvana";

}  // namespace tessaro
