// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/twain/WinIni.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "base/AsciiText.h"
#include "base/AtomicFile.h"
#include "base/IniFile.h"

namespace tessaro::twain {
namespace {

constexpr char kSection[] = "TWAIN";
constexpr char kKey[] = "DEFAULT SOURCE";

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string FolderPath(const std::string& windowsDirectory) {
  std::string folder = windowsDirectory;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

}  // namespace

std::string WinIniPath(const std::string& windowsDirectory) {
  return FolderPath(windowsDirectory) + "/WIN.INI";
}

std::string ReadDefaultSourceEntry(const std::string& windowsDirectory) {
  const auto ini = IniFile::Load(WinIniPath(windowsDirectory));
  return ini ? ini->ReadString(kSection, kKey) : std::string();
}

bool WriteDefaultSourceEntry(const std::string& windowsDirectory, const std::string& value) {
  std::vector<std::string> lines;
  {
    std::ifstream in(WinIniPath(windowsDirectory));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  const std::string entry = std::string(kKey) + "=" + value;
  std::optional<std::size_t> sectionEnd;
  bool inSection = false;
  bool written = false;
  for (std::size_t i = 0; i < lines.size() && !written; ++i) {
    const std::string line = Trimmed(lines[i]);
    if (!line.empty() && line.front() == '[') {
      if (inSection) sectionEnd = i;
      inSection = line.back() == ']' && EqualsNoCase(line.substr(1, line.size() - 2), kSection);
      if (inSection) sectionEnd = i + 1;
      continue;
    }
    if (!inSection) continue;
    sectionEnd = i + 1;
    const auto equals = line.find('=');
    if (equals != std::string::npos && EqualsNoCase(Trimmed(line.substr(0, equals)), kKey)) {
      lines[i] = entry;
      written = true;
    }
  }
  if (!written) {
    if (sectionEnd) {
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*sectionEnd), entry);
    } else {
      lines.push_back(std::string("[") + kSection + "]");
      lines.push_back(entry);
    }
  }
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  PendingFile file(WinIniPath(windowsDirectory));
  return file.ok() && file.Write({reinterpret_cast<const uint8_t*>(text.data()), text.size()}) &&
         file.Commit(/*replace=*/true);
}

bool TwainDataSourceInstalled(const std::string& windowsDirectory) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path folder = fs::path(FolderPath(windowsDirectory)) / "TWAIN_32";
  for (fs::recursive_directory_iterator
           it(folder, fs::directory_options::skip_permission_denied, error),
       end;
       !error && it != end; it.increment(error)) {
    if (EqualsNoCase(it->path().extension().string(), ".DS")) return true;
  }
  return false;
}

bool InstallSaneDataSource(const std::string& windowsDirectory) {
  std::error_code error;
  const std::string folder = FolderPath(windowsDirectory) + "/TWAIN_32";
  std::filesystem::create_directories(folder, error);
  if (error) return false;
  static constexpr char kText[] = "Scanners reached through SANE\n";
  PendingFile file(folder + "/sane.ds");
  return file.ok() && file.Write({reinterpret_cast<const uint8_t*>(kText), sizeof kText - 1}) &&
         file.Commit(/*replace=*/true);
}

}  // namespace tessaro::twain
