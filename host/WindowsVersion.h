// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tessaro {

// The Windows version family the client emulates; parts of it choose paths by these bits.
enum WindowsVersionBits : uint32_t {
  kWinVistaOrLater = 1,
  kWinNT5OrLater = 2,
  kWinNT4 = 4,
  kWin2000 = 8,
};

// Windows 2000 and NT 4, which have no WIA: scanning and the setup wizard take their older paths.
inline bool IsOlderWindows(uint32_t flags) { return (flags & (kWin2000 | kWinNT4)) != 0; }

struct WindowsVersion {
  unsigned major = 6;
  unsigned minor = 1;
};

// "major.minor" (e.g. "5.0"); nullopt for anything else.
std::optional<WindowsVersion> ParseWindowsVersion(const std::string& text);

uint32_t VersionFlagsFor(WindowsVersion version);

// The emulated version: `setting` when it parses, else TESSARO_WINDOWS_VERSION when it parses,
// else 6.1.
WindowsVersion EmulatedWindowsVersion(const std::string& setting = {});

// Clears `flags`, then sets the bits of the emulated version.
void GetWindowsVersionFlags(uint32_t& flags, const std::string& setting = {});

}  // namespace tessaro
