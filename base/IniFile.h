// SPDX-License-Identifier: GPL-2.0-or-later
// A read-only INI file with the semantics of the Windows profile functions: sections and their
// lines in file order, section and key names matched without regard to ASCII case, a repeated
// key answering with its first occurrence's value.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaro {

class IniFile {
 public:
  // Files larger than this are refused rather than read whole.
  static constexpr std::size_t kMaxFileSize = 1 << 20;

  // nullopt when the file is missing, unreadable or too large.
  static std::optional<IniFile> Load(const std::string& path);
  static IniFile Parse(std::string_view text);

  // Section names in file order; a name that repeats is listed once, at its first place.
  std::vector<std::string> SectionNames() const;
  // Key names of a section's lines in file order, a repeated key as often as it occurs; a line
  // without '=' is a key whose value is empty.
  std::vector<std::string> KeyNames(std::string_view section) const;
  // The value of the first line of `section` whose key is `key`, else `fallback`.
  std::string ReadString(std::string_view section, std::string_view key,
                         const std::string& fallback = {}) const;

 private:
  struct Line {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Line> lines;
  };
  const Section* Find(std::string_view section) const;

  std::vector<Section> sections_;
};

}  // namespace tessaro
