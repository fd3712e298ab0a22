// SPDX-License-Identifier: GPL-2.0-or-later
// The emulated Windows folder's WIN.INI, where the default TWAIN source is kept (key
// "DEFAULT SOURCE" of section "TWAIN"), and its TWAIN_32 folder of installed data sources.
#pragma once

#include <string>

namespace tessaro::twain {

std::string WinIniPath(const std::string& windowsDirectory);
// Empty when the file, the section or the key is missing.
std::string ReadDefaultSourceEntry(const std::string& windowsDirectory);
// Replaces the key's value (or adds the key, the section, the file), keeping every other line;
// the file is replaced whole, never left half written.
bool WriteDefaultSourceEntry(const std::string& windowsDirectory, const std::string& value);

// True when "TWAIN_32" under the folder, or any folder below it, holds a file whose extension is
// ".ds" in any case.
bool TwainDataSourceInstalled(const std::string& windowsDirectory);
// Declares this program's SANE data source there (TWAIN_32/sane.ds), creating the folders.
bool InstallSaneDataSource(const std::string& windowsDirectory);

}  // namespace tessaro::twain
