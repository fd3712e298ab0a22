// SPDX-License-Identifier: GPL-2.0-or-later
#include "devices/DeviceListModel.h"

#include <algorithm>
#include <numeric>

#include "base/AsciiText.h"
#include "devices/MainWindowPort.h"
#include "devices/RowLook.h"
#include "records/DeviceTypes.h"

namespace tessaro {

namespace {

bool ServerLess(const std::unique_ptr<ServerData>& a, const std::unique_ptr<ServerData>& b) {
  const int byName = CompareNoCase(a->name, b->name);
  return byName != 0 ? byName < 0 : CompareNoCase(a->ip, b->ip) < 0;
}

}  // namespace

void DeviceListModel::AddListener(DeviceListListener* listener) { listeners_.push_back(listener); }

void DeviceListModel::RemoveListener(DeviceListListener* listener) {
  std::erase(listeners_, listener);
}

ServerData* DeviceListModel::FindServer(const std::string& name, const std::string& ip) const {
  for (const auto& s : servers_)
    if (s->name == name && s->ip == ip) return s.get();
  return nullptr;
}

ServerData* DeviceListModel::FindEnabledServerByIp(const std::string& ip) const {
  for (const auto& s : servers_)
    if (s->ip == ip && s->handle != kInvalidBusHandle && s->enabled) return s.get();
  return nullptr;
}

ServerData* DeviceListModel::FindServerByDisplayName(const std::string& displayName) const {
  for (const auto& s : servers_)
    if (s->displayName == displayName) return s.get();
  return nullptr;
}

ServerData& DeviceListModel::AddServer(std::unique_ptr<ServerData> server) {
  ServerData& added = *server;
  servers_.push_back(std::move(server));
  std::stable_sort(servers_.begin(), servers_.end(), ServerLess);
  Notify([](DeviceListListener& l) { l.ServersChanged(); });
  return added;
}

void DeviceListModel::RemoveServer(const ServerData* server) {
  const auto removed = std::erase_if(servers_, [&](const auto& s) { return s.get() == server; });
  if (removed > 0) Notify([](DeviceListListener& l) { l.ServersChanged(); });
}

DeviceListModel::ServerList DeviceListModel::TakeServers() {
  ServerList taken = std::move(servers_);
  servers_.clear();
  if (!taken.empty()) Notify([](DeviceListListener& l) { l.ServersChanged(); });
  return taken;
}

std::optional<size_t> DeviceListModel::IndexOf(const DeviceData* data) const {
  for (size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].get() == data) return i;
  return std::nullopt;
}

std::vector<size_t> DeviceListModel::RowsOf(const std::string& serverName,
                                            const std::string& serverIp) const {
  return byServer_.RowsOf(serverName, serverIp);
}

std::optional<size_t> DeviceListModel::FindRow(const std::string& serverName,
                                               const std::string& serverIp,
                                               const std::string& deviceNumber) const {
  for (const size_t i : byServer_.RowsOf(serverName, serverIp))
    if (rows_[i]->deviceNumber == deviceNumber) return i;
  return std::nullopt;
}

DeviceData* DeviceListModel::FindDeviceRow(const std::string& serverName,
                                           const std::string& serverIp,
                                           const std::string& identityText) const {
  if (serverName.empty() || serverIp.empty() || identityText.empty()) return nullptr;
  for (const size_t i : byServer_.RowsOf(serverName, serverIp))
    if (rows_[i]->DeviceIdentityText == identityText) return rows_[i].get();
  return nullptr;
}

void DeviceListModel::AppendRow(std::unique_ptr<DeviceData> data) {
  const size_t index = rows_.size();
  Notify([&](DeviceListListener& l) { l.RowAboutToBeInserted(index); });
  rows_.push_back(std::move(data));
  byServer_.Appended(*rows_.back(), index);
  MarkUnsorted(index);
  Notify([&](DeviceListListener& l) { l.RowInserted(index); });
}

void DeviceListModel::RowEdited(size_t index) {
  byServer_.Edited(*rows_[index], index);
  MarkUnsorted(index);
  Notify([&](DeviceListListener& l) { l.RowChanged(index); });
}

void DeviceListModel::MarkUnsorted(size_t index) {
  const auto at = std::lower_bound(unsortedRows_.begin(), unsortedRows_.end(), index);
  if (at == unsortedRows_.end() || *at != index) unsortedRows_.insert(at, index);
}

bool DeviceListModel::InOrderWithNeighbours(size_t index) const {
  const DeviceData& row = *rows_[index];
  if (index > 0 && RowLess(row, *rows_[index - 1])) return false;
  return index + 1 >= rows_.size() || !RowLess(*rows_[index + 1], row);
}

void DeviceListModel::RemoveRow(size_t index) {
  if (index >= rows_.size()) return;
  Notify([&](DeviceListListener& l) { l.RowAboutToBeRemoved(index); });
  std::unique_ptr<DeviceData> gone = std::move(rows_[index]);
  rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(index));
  byServer_.Removed(*gone, index);
  std::erase(unsortedRows_, index);
  for (size_t& i : unsortedRows_)
    if (i > index) --i;
  if (IsUnnamedDevice(gone->manufacturer, gone->product)) slots_.Release(gone->displayName);
  Notify([&](DeviceListListener& l) { l.RowRemoved(index); });
  window_.ShowNotePanel(rows_.empty());
}

void DeviceListModel::SortRows() {
  // Most refreshes change no sort key: a look at the rows they touched settles it.
  const bool inOrder = std::all_of(unsortedRows_.begin(), unsortedRows_.end(),
                                   [&](size_t i) { return InOrderWithNeighbours(i); });
  unsortedRows_.clear();
  if (inOrder) return;
  std::vector<size_t> order(rows_.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return RowLess(*rows_[a], *rows_[b]); });
  Notify([](DeviceListListener& l) { l.RowsAboutToBeSorted(); });
  std::vector<std::unique_ptr<DeviceData>> sorted;
  std::vector<size_t> newIndexOf(rows_.size());
  sorted.reserve(rows_.size());
  for (size_t i = 0; i < order.size(); ++i) {
    newIndexOf[order[i]] = i;
    sorted.push_back(std::move(rows_[order[i]]));
  }
  rows_ = std::move(sorted);
  byServer_.Reordered(newIndexOf);
  Notify([&](DeviceListListener& l) { l.RowsSorted(newIndexOf); });
}

}  // namespace tessaro
