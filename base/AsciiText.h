// SPDX-License-Identifier: GPL-2.0-or-later
// Text comparisons that fold ASCII letters only, as registry names, INI keys and type words do.
#pragma once

#include <string>
#include <string_view>

namespace tessaro {

inline char FoldAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
inline char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The text with its ASCII letters in upper case, as Windows' CharUpper leaves plain ASCII.
inline std::string UpperAsciiText(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = UpperAscii(c);
  return out;
}

inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

inline bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

// <0, 0 or >0 as `a` sorts before, with or after `b`: letters folded to upper case, as Windows
// orders names (so "_" sorts after "Z" and before "a"), then byte by byte as unsigned.
inline int CompareNoCase(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(UpperAscii(a[i]));
    const auto y = static_cast<unsigned char>(UpperAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace tessaro
