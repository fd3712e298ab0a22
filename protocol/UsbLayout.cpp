// SPDX-License-Identifier: GPL-2.0-or-later
#include "protocol/UsbLayout.h"

#include <cctype>
#include <cstdio>

#include "base/AsciiText.h"

namespace tessaro::wire {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

std::optional<uint8_t> HexByte(std::string_view s) {
  if (s.size() != 2) return std::nullopt;
  unsigned value = 0;
  for (char c : s) {
    const int digit = std::isdigit(static_cast<unsigned char>(c))    ? c - '0'
                      : std::isxdigit(static_cast<unsigned char>(c)) ? std::tolower(c) - 'a' + 10
                                                                     : -1;
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<unsigned>(digit);
  }
  return static_cast<uint8_t>(value);
}

constexpr uint8_t kPrinterClass = 0x07;
constexpr uint8_t kDot4Protocol = 0x03;

}  // namespace

std::optional<ClassTriple> ParseClassTriple(std::string_view text) {
  if (text.size() != 8 || text[2] != '/' || text[5] != '/') return std::nullopt;
  const auto c = HexByte(text.substr(0, 2));
  const auto s = HexByte(text.substr(3, 2));
  const auto p = HexByte(text.substr(6, 2));
  if (!c || !s || !p) return std::nullopt;
  return ClassTriple{*c, *s, *p};
}

std::optional<std::vector<ClassTriple>> ParseClassTripleList(std::string_view text) {
  std::vector<ClassTriple> list;
  while (true) {
    const size_t comma = text.find(',');
    const auto triple = ParseClassTriple(Trim(text.substr(0, comma)));
    if (!triple) return std::nullopt;
    list.push_back(*triple);
    if (comma == std::string_view::npos) return list;
    text.remove_prefix(comma + 1);
  }
}

DefaultFunctions DefaultFunctionsFor(std::string_view typeWord) {
  const std::string_view word = Trim(typeWord);
  if (EqualsNoCase(word, "PRINTER")) return {"07/01/02", ""};
  if (EqualsNoCase(word, "MASS STORAGE")) return {"08/06/50", ""};
  // A multi-function device: a bidirectional printer and a still-image function.
  if (EqualsNoCase(word, "MFP")) return {"", "07/01/02,06/01/01"};
  // A scanner and anything else: one vendor-specific function.
  return {"ff/ff/ff", ""};
}

const std::string* FindDescriptor(const Descriptors& descriptors, std::string_view key) {
  for (const auto& [k, v] : descriptors)
    if (EqualsNoCase(k, key)) return &v;
  return nullptr;
}

UsbLayout ResolveUsbLayout(std::string_view typeWord, const Descriptors& descriptors) {
  const std::string* classText = FindDescriptor(descriptors, "class");
  const std::string* interfacesText = FindDescriptor(descriptors, "interfaces");
  std::optional<ClassTriple> deviceClass = classText ? ParseClassTriple(*classText) : std::nullopt;
  std::optional<std::vector<ClassTriple>> interfaces =
      interfacesText ? ParseClassTripleList(*interfacesText) : std::nullopt;
  if (!deviceClass && !interfaces) {
    const DefaultFunctions defaults = DefaultFunctionsFor(typeWord);
    deviceClass = ParseClassTriple(defaults.usbClass);
    interfaces = ParseClassTripleList(defaults.interfaces);
  }
  UsbLayout layout;
  if (interfaces) {
    layout.interfaces = std::move(*interfaces);
    if (layout.interfaces.size() > kMaxInterfaces) layout.interfaces.resize(kMaxInterfaces);
  }
  if (deviceClass) layout.deviceClass = *deviceClass;
  const std::string* dot4 = FindDescriptor(descriptors, "dot4");
  if (dot4 && EqualsNoCase(Trim(*dot4), "yes")) {
    auto mark = [](ClassTriple& t) {
      if (t.usbClass == kPrinterClass) t.protocol = kDot4Protocol;
    };
    mark(layout.deviceClass);
    for (ClassTriple& t : layout.interfaces) mark(t);
  }
  return layout;
}

}  // namespace tessaro::wire
