// SPDX-License-Identifier: GPL-2.0-or-later
#include "busd/DeviceArrival.h"

#include <algorithm>
#include <tuple>

#include "busd/Log.h"

namespace tessaro::busd {

namespace {

// What names and describes a device; a lock or its end is no new arrival.
auto Identity(const wire::DeviceInfo& d) {
  return std::tie(d.number, d.vendorId, d.productId, d.type, d.manufacturer, d.product, d.serial,
                  d.descriptors);
}

bool Holds(const std::vector<wire::DeviceInfo>& list, const wire::DeviceInfo& d) {
  return std::any_of(list.begin(), list.end(),
                     [&](const wire::DeviceInfo& e) { return Identity(e) == Identity(d); });
}

}  // namespace

void DeviceArrival::Update(uint32_t serverIp, const std::vector<wire::DeviceInfo>& devices) {
  Server& s = servers_[serverIp];
  std::vector<wire::DeviceInfo> now;
  for (const wire::DeviceInfo& d : devices)
    if (!d.owner.empty() && d.owner == computerName_) now.push_back(d);
  // A device that was linked here and is not any more: its link ended, a new one needs a new Link.
  for (const wire::DeviceInfo& d : s.owned) {
    const bool still = std::any_of(now.begin(), now.end(),
                                   [&](const wire::DeviceInfo& n) { return n.number == d.number; });
    if (!still) s.confirmed.erase(d.number);
  }
  s.owned = std::move(now);
  Settle(serverIp, s);
}

void DeviceArrival::LinkRequested(uint32_t serverIp, uint8_t number) {
  servers_[serverIp].requested.insert(number);
}

void DeviceArrival::LinkAnswered(uint32_t serverIp, uint8_t number, bool succeeded) {
  auto it = servers_.find(serverIp);
  if (it == servers_.end() || it->second.requested.erase(number) == 0 || !succeeded) return;
  it->second.confirmed.insert(number);
  Settle(serverIp, it->second);
}

void DeviceArrival::Settle(uint32_t serverIp, Server& s) {
  std::erase_if(s.recorded, [&](const wire::DeviceInfo& r) { return !Holds(s.owned, r); });
  std::vector<wire::DeviceInfo> arrived;
  for (const wire::DeviceInfo& d : s.owned) {
    if (!s.confirmed.contains(d.number) || Holds(s.recorded, d)) continue;
    // Remember first: a callback that fails still counts the device as seen for this link.
    s.recorded.push_back(d);
    if (!Holds(s.written, d)) {
      if (s.written.size() >= kMaxRecordedPerServer) {
        if (!s.capLogged)
          log_.Info("server " + IpText(serverIp) + " has " + std::to_string(kMaxRecordedPerServer) +
                    " devices in the device database; no more of its devices are recorded");
        s.capLogged = true;
        continue;
      }
      s.written.push_back(d);
    }
    arrived.push_back(d);
  }
  for (const wire::DeviceInfo& d : arrived) onArrival_(serverIp, d);
}

}  // namespace tessaro::busd
