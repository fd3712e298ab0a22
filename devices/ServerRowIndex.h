// SPDX-License-Identifier: GPL-2.0-or-later
// Where each server's rows are in the device list, so a lookup or a merge visits one server's
// rows instead of walking the whole list. DeviceListModel keeps it current on every change.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "records/Records.h"

namespace tessaro {

class ServerRowIndex {
 public:
  // The positions of the rows carrying this server name and IP (exactly), ascending.
  const std::vector<size_t>& RowsOf(std::string_view serverName, std::string_view serverIp) const;

  // `row` now sits at `position`, after every row it already knew.
  void Appended(const DeviceData& row, size_t position);
  // `row` left `position`; the rows after it moved up one.
  void Removed(const DeviceData& row, size_t position);
  // An edit may have given the row at `position` another server name or IP.
  void Edited(const DeviceData& row, size_t position);
  // newIndexOf[old] is where the row that was at `old` is now.
  void Reordered(const std::vector<size_t>& newIndexOf);

 private:
  struct Key {
    std::string_view name;
    std::string_view ip;
  };
  struct StoredKey {
    std::string name;
    std::string ip;
  };
  // Lookups by Key need no copy of the strings.
  struct KeyHash {
    using is_transparent = void;
    size_t operator()(const Key& k) const;
    size_t operator()(const StoredKey& k) const { return (*this)(Key{k.name, k.ip}); }
  };
  struct KeyEqual {
    using is_transparent = void;
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const {
      return a.name == b.name && a.ip == b.ip;
    }
  };

  void Insert(const DeviceData& row, size_t position);
  void Forget(size_t position);

  std::unordered_map<StoredKey, std::vector<size_t>, KeyHash, KeyEqual> rows_;
};

}  // namespace tessaro
