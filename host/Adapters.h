// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/HostNetwork.h"

namespace tessaro {

constexpr size_t kMaxAdapters = 10;

// One adapter as the host checks see it.
struct Adapter {
  std::string name;
  int type = 1;  // Windows adapter-type number
  std::array<uint8_t, 6> hardware{};
  std::string ipv4 = "0.0.0.0";
};

Adapter AdapterFrom(const AdapterFacts& facts);

// Ethernet or a type outside the known set (wireless counts as Ethernet), a hardware address
// that is not all zeros, and an IPv4 address other than 0.0.0.0.
bool AdapterQualifies(const Adapter& adapter);

// The qualifying adapters in the given order, at most ten.
std::vector<Adapter> QualifyingAdapters(const std::vector<Adapter>& all);

}  // namespace tessaro
