// SPDX-License-Identifier: GPL-2.0-or-later
#include "host/WindowsVersion.h"
#include "base/NumberText.h"

#include <charconv>
#include <cstdlib>

namespace tessaro {

namespace {
std::optional<unsigned> Number(std::string_view text) {
  return ParseNumberIn<unsigned>(text, 0, 99);
}
}  // namespace

std::optional<WindowsVersion> ParseWindowsVersion(const std::string& text) {
  const auto dot = text.find('.');
  if (dot == std::string::npos) return std::nullopt;
  const auto major = Number(std::string_view(text).substr(0, dot));
  const auto minor = Number(std::string_view(text).substr(dot + 1));
  if (!major || !minor) return std::nullopt;
  return WindowsVersion{*major, *minor};
}

uint32_t VersionFlagsFor(WindowsVersion v) {
  uint32_t flags = 0;
  if (v.major == 6) flags |= kWinVistaOrLater;
  if (v.major == 5 || v.major == 6) flags |= kWinNT5OrLater;
  if (v.major == 4 && v.minor == 0) flags |= kWinNT4;
  if (v.major == 5 && v.minor == 0) flags |= kWin2000;
  return flags;
}

WindowsVersion EmulatedWindowsVersion(const std::string& setting) {
  if (const auto v = ParseWindowsVersion(setting)) return *v;
  if (const char* env = std::getenv("TESSARO_WINDOWS_VERSION")) {
    if (const auto v = ParseWindowsVersion(env)) return *v;
  }
  return {};
}

void GetWindowsVersionFlags(uint32_t& flags, const std::string& setting) {
  flags = VersionFlagsFor(EmulatedWindowsVersion(setting));
}

}  // namespace tessaro
