// SPDX-License-Identifier: GPL-2.0-or-later
// A device's USB functions as its device server describes them (descriptors `class`,
// `interfaces`, `dot4`) and the defaults per type word where it says nothing. hubd fills the
// defaults into what it sends; busd resolves the same way for a server that sends none, so both
// sides agree on what a PC's device database records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessaro::wire {

// A composite device's interface numbers go into "MI_0n" key names: 0 to 9.
inline constexpr size_t kMaxInterfaces = 10;

struct ClassTriple {
  uint8_t usbClass = 0;
  uint8_t subClass = 0;
  uint8_t protocol = 0;
  bool operator==(const ClassTriple&) const = default;
};

// "07/01/02": class, subclass and protocol as two hex digits each.
std::optional<ClassTriple> ParseClassTriple(std::string_view text);
// Comma-separated triples, spaces around each allowed; nullopt when any is bad or there are none.
std::optional<std::vector<ClassTriple>> ParseClassTripleList(std::string_view text);

// What a server sends when its config gives neither `class` nor `interfaces`, by type word
// (compared without regard to case): exactly one of the two is set.
struct DefaultFunctions {
  std::string usbClass;
  std::string interfaces;
};
DefaultFunctions DefaultFunctionsFor(std::string_view typeWord);

struct UsbLayout {
  ClassTriple deviceClass;              // 00/00/00 for a composite device without `class`
  std::vector<ClassTriple> interfaces;  // a composite device's functions; empty otherwise
  bool composite() const { return !interfaces.empty(); }
};

using Descriptors = std::vector<std::pair<std::string, std::string>>;

// `interfaces` makes a composite device (at most kMaxInterfaces are taken); otherwise `class`
// is the device's one function. A missing or unreadable value falls back to the type word's
// default. With `dot4 = yes` every printer function (class 07) is an IEEE 1284.4 one:
// protocol 03.
UsbLayout ResolveUsbLayout(std::string_view typeWord, const Descriptors& descriptors);
// The descriptor's value, or nullptr (keys compare without regard to case).
const std::string* FindDescriptor(const Descriptors& descriptors, std::string_view key);

}  // namespace tessaro::wire
