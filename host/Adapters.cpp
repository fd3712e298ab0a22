// SPDX-License-Identifier: GPL-2.0-or-later
#include "host/Adapters.h"

#include <algorithm>

#include "host/KernelTables.h"

namespace tessaro {

Adapter AdapterFrom(const AdapterFacts& facts) {
  Adapter a;
  a.name = facts.name;
  const auto arphrd = ParseArphrd(facts.typeText);
  a.type = arphrd ? AdapterTypeFromArphrd(*arphrd) : 1;
  a.hardware = ParseHardwareAddress(facts.hardwareText);
  a.ipv4 = facts.ipv4.empty() ? "0.0.0.0" : facts.ipv4;
  return a;
}

bool AdapterQualifies(const Adapter& adapter) {
  static constexpr int kKnownTypes[] = {1, 6, 9, 15, 23, 24, 28};
  const bool known = std::find(std::begin(kKnownTypes), std::end(kKnownTypes), adapter.type) !=
                     std::end(kKnownTypes);
  const bool ethernetLike = adapter.type == 6 || !known;
  const bool hasHardware =
      std::any_of(adapter.hardware.begin(), adapter.hardware.end(), [](uint8_t b) { return b; });
  return ethernetLike && hasHardware && adapter.ipv4 != "0.0.0.0";
}

std::vector<Adapter> QualifyingAdapters(const std::vector<Adapter>& all) {
  std::vector<Adapter> chosen;
  for (const auto& a : all) {
    if (chosen.size() == kMaxAdapters) break;
    if (AdapterQualifies(a)) chosen.push_back(a);
  }
  return chosen;
}

}  // namespace tessaro
