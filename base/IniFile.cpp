// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/IniFile.h"

#include <fstream>
#include <iterator>

#include "base/AsciiText.h"

namespace tessaro {

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

// A value wrapped in one pair of matching quotes loses them.
std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

std::optional<IniFile> IniFile::Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text;
  char buffer[4096];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxFileSize) return std::nullopt;
  }
  if (in.bad()) return std::nullopt;
  return Parse(text);
}

IniFile IniFile::Parse(std::string_view text) {
  // A byte-order mark from an editor would otherwise hide the first section.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  IniFile ini;
  Section* current = nullptr;  // lines before any section, or in a repeated one, are ignored
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    std::string_view line =
        Trim(newline == std::string_view::npos ? text : text.substr(0, newline));
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      // A header without ']' names its section with the rest of the line.
      const std::size_t length = close == std::string_view::npos ? line.size() - 1 : close - 1;
      const std::string_view name = Trim(line.substr(1, length));
      if (ini.Find(name)) {
        current = nullptr;
      } else {
        ini.sections_.push_back(Section{std::string(name), {}});
        current = &ini.sections_.back();
      }
      continue;
    }
    if (!current) continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      current->lines.push_back(Line{std::string(line), {}});
    } else {
      current->lines.push_back(Line{std::string(Trim(line.substr(0, equals))),
                                    std::string(Unquote(Trim(line.substr(equals + 1))))});
    }
  }
  return ini;
}

const IniFile::Section* IniFile::Find(std::string_view section) const {
  for (const Section& s : sections_) {
    if (EqualsNoCase(s.name, section)) return &s;
  }
  return nullptr;
}

std::vector<std::string> IniFile::SectionNames() const {
  std::vector<std::string> names;
  for (const Section& s : sections_) names.push_back(s.name);
  return names;
}

std::vector<std::string> IniFile::KeyNames(std::string_view section) const {
  std::vector<std::string> keys;
  if (const Section* s = Find(section)) {
    for (const Line& line : s->lines) keys.push_back(line.key);
  }
  return keys;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                const std::string& fallback) const {
  if (const Section* s = Find(section)) {
    for (const Line& line : s->lines) {
      if (EqualsNoCase(line.key, key)) return line.value;
    }
  }
  return fallback;
}

}  // namespace tessaro
