// SPDX-License-Identifier: GPL-2.0-or-later
#include "busd/DeviceArrival.h"

#include <algorithm>
#include <tuple>

namespace tessaro::busd {

namespace {

// What names and describes a device; a lock or its end is no new arrival.
auto Identity(const wire::DeviceInfo& d) {
  return std::tie(d.number, d.vendorId, d.productId, d.type, d.manufacturer, d.product, d.serial,
                  d.descriptors);
}

}  // namespace

void DeviceArrival::Update(uint32_t serverIp, const std::vector<wire::DeviceInfo>& devices) {
  std::vector<wire::DeviceInfo> now;
  for (const wire::DeviceInfo& d : devices)
    if (!d.owner.empty() && d.owner == computerName_) now.push_back(d);
  const std::vector<wire::DeviceInfo>& before = linked_[serverIp];
  std::vector<const wire::DeviceInfo*> arrived;
  for (const wire::DeviceInfo& d : now) {
    const bool known = std::any_of(before.begin(), before.end(), [&](const wire::DeviceInfo& b) {
      return Identity(b) == Identity(d);
    });
    if (!known) arrived.push_back(&d);
  }
  // Remember first: a callback that fails still counts the device as seen for this link.
  linked_[serverIp] = now;
  for (const wire::DeviceInfo* d : arrived) onArrival_(serverIp, *d);
}

}  // namespace tessaro::busd
