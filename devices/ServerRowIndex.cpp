// SPDX-License-Identifier: GPL-2.0-or-later
#include "devices/ServerRowIndex.h"

#include <algorithm>

namespace tessaro {

size_t ServerRowIndex::KeyHash::operator()(const Key& k) const {
  const size_t h = std::hash<std::string_view>{}(k.name);
  return h ^ (std::hash<std::string_view>{}(k.ip) + 0x9e3779b97f4a7c15u + (h << 6) + (h >> 2));
}

const std::vector<size_t>& ServerRowIndex::RowsOf(std::string_view serverName,
                                                  std::string_view serverIp) const {
  static const std::vector<size_t> kNone;
  const auto it = rows_.find(Key{serverName, serverIp});
  return it == rows_.end() ? kNone : it->second;
}

void ServerRowIndex::Appended(const DeviceData& row, size_t position) { Insert(row, position); }

void ServerRowIndex::Removed(const DeviceData& row, size_t position) {
  const auto it = rows_.find(Key{row.serverName, row.serverIp});
  if (it != rows_.end()) {
    std::erase(it->second, position);
    if (it->second.empty()) rows_.erase(it);
  }
  for (auto& [key, positions] : rows_) {
    // Ascending: only the tail after `position` moves up.
    for (auto p = std::upper_bound(positions.begin(), positions.end(), position);
         p != positions.end(); ++p)
      --*p;
  }
}

void ServerRowIndex::Edited(const DeviceData& row, size_t position) {
  const auto& listed = RowsOf(row.serverName, row.serverIp);
  if (std::binary_search(listed.begin(), listed.end(), position)) return;
  // Rare: the old key is unknown here, so every server's list is searched.
  Forget(position);
  Insert(row, position);
}

void ServerRowIndex::Reordered(const std::vector<size_t>& newIndexOf) {
  for (auto& [key, positions] : rows_) {
    for (size_t& p : positions) p = newIndexOf.at(p);
    std::sort(positions.begin(), positions.end());
  }
}

void ServerRowIndex::Insert(const DeviceData& row, size_t position) {
  auto it = rows_.find(Key{row.serverName, row.serverIp});
  if (it == rows_.end()) it = rows_.try_emplace(StoredKey{row.serverName, row.serverIp}).first;
  auto& positions = it->second;
  positions.insert(std::upper_bound(positions.begin(), positions.end(), position), position);
}

void ServerRowIndex::Forget(size_t position) {
  for (auto it = rows_.begin(); it != rows_.end();) {
    std::erase(it->second, position);
    it = it->second.empty() ? rows_.erase(it) : std::next(it);
  }
}

}  // namespace tessaro
