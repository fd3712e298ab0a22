// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/DeviceTable.h"

#include <algorithm>
#include <tuple>

#include "hubd/DeviceDescription.h"

namespace tessaro::hubd {

namespace {

// What a PC sees of one device's state; a change notice is due exactly when this differs.
template <typename E>
auto Visible(const E& e) {
  return std::make_tuple(e.owner, e.locked, e.lockKind);
}

}  // namespace

DeviceTable::Entry* DeviceTable::Find(uint8_t number) {
  for (Entry& e : entries_)
    if (e.config.number == number) return &e;
  return nullptr;
}

const DeviceTable::Entry* DeviceTable::Find(uint8_t number) const {
  return const_cast<DeviceTable*>(this)->Find(number);
}

void DeviceTable::EndLock(Entry& e) {
  e.locked = false;
  e.lockKind = 0;
}

DeviceTable::Outcome DeviceTable::Link(uint8_t number, const std::string& pc) {
  Entry* e = Find(number);
  if (!e) return {kStatusNotFound, false};
  if (e->locked && e->owner != pc) return {kStatusRefused, false};
  const auto before = Visible(*e);
  e->owner = pc;
  return {kStatusOk, Visible(*e) != before};
}

DeviceTable::Outcome DeviceTable::Unlink(uint8_t number, const std::string& pc) {
  Entry* e = Find(number);
  if (!e) return {kStatusNotFound, false};
  if (e->owner.empty() || e->owner != pc) return {kStatusRefused, false};
  e->owner.clear();
  EndLock(*e);
  return {kStatusOk, true};
}

DeviceTable::Outcome DeviceTable::Lock(uint8_t number, const std::string& pc, uint8_t kind,
                                       uint32_t seconds) {
  Entry* e = Find(number);
  if (!e) return {kStatusNotFound, false};
  if (e->owner.empty() || e->owner != pc) return {kStatusRefused, false};
  const auto before = Visible(*e);
  e->locked = true;
  e->lockKind = kind;
  e->lockEnd = clock_.Now() + std::chrono::seconds(seconds);
  return {kStatusOk, Visible(*e) != before};
}

DeviceTable::Outcome DeviceTable::Unlock(uint8_t number, const std::string& pc, uint32_t linger) {
  Entry* e = Find(number);
  if (!e) return {kStatusNotFound, false};
  if (e->owner.empty() || e->owner != pc) return {kStatusRefused, false};
  if (!e->locked) return {kStatusOk, false};
  if (linger == 0) {
    EndLock(*e);
    return {kStatusOk, true};
  }
  // An unlock only shortens a lock: a lock due to expire sooner still ends at its expiry.
  e->lockEnd = std::min(e->lockEnd, clock_.Now() + std::chrono::seconds(linger));
  return {kStatusOk, false};
}

DeviceTable::EjectOutcome DeviceTable::Eject(uint8_t number, const std::string& pc) const {
  const Entry* e = Find(number);
  if (!e) return {kStatusNotFound, {}};
  if (e->owner.empty() || e->owner != pc) return {kStatusRefused, {}};
  if (e->config.ejectVeto == 0) return {kStatusOk, {}};
  return {kStatusOk, {e->config.ejectVeto, e->config.ejectVetoName}};
}

uint32_t DeviceTable::SetEjectVeto(uint8_t number, uint32_t vetoType, const std::string& vetoName) {
  Entry* e = Find(number);
  if (!e) return kStatusNotFound;
  // Kept in the entry's copy of its config, so a reload brings the file's veto back.
  e->config.ejectVeto = vetoType;
  e->config.ejectVetoName = vetoType == 0 ? std::string() : vetoName;
  return kStatusOk;
}

std::optional<DeviceTable::TimePoint> DeviceTable::LockEndOf(uint8_t number) const {
  const Entry* e = Find(number);
  if (!e || !e->locked) return std::nullopt;
  return e->lockEnd;
}

const DeviceConfig* DeviceTable::ConfigOf(uint8_t number) const {
  const Entry* e = Find(number);
  return e ? &e->config : nullptr;
}

std::optional<std::string> DeviceTable::OwnerOf(uint8_t number) const {
  const Entry* e = Find(number);
  if (!e) return std::nullopt;
  return e->owner;
}

bool DeviceTable::Expire() {
  const TimePoint now = clock_.Now();
  bool changed = false;
  for (Entry& e : entries_) {
    if (e.locked && e.lockEnd <= now) {
      EndLock(e);
      changed = true;
    }
  }
  return changed;
}

std::optional<DeviceTable::TimePoint> DeviceTable::NextDeadline() const {
  std::optional<TimePoint> next;
  for (const Entry& e : entries_)
    if (e.locked && (!next || e.lockEnd < *next)) next = e.lockEnd;
  return next;
}

bool DeviceTable::Replace(const std::vector<DeviceConfig>& devices, bool keepVetoes) {
  const auto before = wire::EncodeDeviceList(List());
  std::vector<Entry> next;
  next.reserve(devices.size());
  for (const DeviceConfig& d : devices) {
    Entry e;
    e.config = d;
    const Entry* old = Find(d.number);
    if (old && old->config.vendorId == d.vendorId && old->config.productId == d.productId) {
      e.owner = old->owner;
      e.locked = old->locked;
      e.lockKind = old->lockKind;
      e.lockEnd = old->lockEnd;
      if (keepVetoes) {
        e.config.ejectVeto = old->config.ejectVeto;
        e.config.ejectVetoName = old->config.ejectVetoName;
      }
    }
    next.push_back(std::move(e));
  }
  std::sort(next.begin(), next.end(),
            [](const Entry& a, const Entry& b) { return a.config.number < b.config.number; });
  entries_ = std::move(next);
  return wire::EncodeDeviceList(List()) != before;
}

std::vector<wire::DeviceInfo> DeviceTable::List() const {
  std::vector<wire::DeviceInfo> list;
  list.reserve(entries_.size());
  for (const Entry& e : entries_) {
    wire::DeviceInfo info = DescribeDevice(e.config, saneServer_);
    info.owner = e.owner;
    info.lockKind = e.lockKind;
    info.lockCount = e.locked ? 1 : 0;
    list.push_back(std::move(info));
  }
  return list;
}

}  // namespace tessaro::hubd
