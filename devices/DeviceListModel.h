// SPDX-License-Identifier: GPL-2.0-or-later
// ServerList and the rows of the device list, with their DeviceData, as the main thread keeps
// them. A view follows the rows through DeviceListListener; the refresh cycle changes them.
// Records stay at one address while they are listed, so a view may key on `const DeviceData*`.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "devices/ServerRowIndex.h"
#include "records/Records.h"
#include "records/UnnamedSlots.h"

namespace tessaro {

class MainWindowPort;

// Row notifications in the order a Qt item model needs them. Listeners must not change the
// model or process pending events from inside a notification.
class DeviceListListener {
 public:
  virtual ~DeviceListListener() = default;
  virtual void RowAboutToBeInserted(size_t /*index*/) {}
  virtual void RowInserted(size_t /*index*/) {}
  // The row and its DeviceData are still there; forget any reference to them (hover row).
  virtual void RowAboutToBeRemoved(size_t /*index*/) {}
  virtual void RowRemoved(size_t /*index*/) {}
  virtual void RowChanged(size_t /*index*/) {}
  virtual void RowsAboutToBeSorted() {}
  // newIndexOf[old] is where the row that was at `old` is now.
  virtual void RowsSorted(const std::vector<size_t>& /*newIndexOf*/) {}
  // A server was added to or removed from ServerList.
  virtual void ServersChanged() {}
};

class DeviceListModel {
 public:
  using ServerList = std::vector<std::unique_ptr<ServerData>>;

  // `window` hears of the note panel after each row deletion.
  explicit DeviceListModel(MainWindowPort& window) : window_(window) {}
  DeviceListModel(const DeviceListModel&) = delete;
  DeviceListModel& operator=(const DeviceListModel&) = delete;

  void AddListener(DeviceListListener* listener);
  void RemoveListener(DeviceListListener* listener);

  // ServerList, sorted by name, then IP, both without regard to case.
  const ServerList& servers() const { return servers_; }
  ServerData* FindServer(const std::string& name, const std::string& ip) const;
  // The first listed server with this IP that is enabled and has its Spur open.
  ServerData* FindEnabledServerByIp(const std::string& ip) const;
  ServerData* FindServerByDisplayName(const std::string& displayName) const;
  ServerData& AddServer(std::unique_ptr<ServerData> server);
  // Frees the record; its Spur must have been closed by the caller.
  void RemoveServer(const ServerData* server);
  // Empties ServerList, handing the records to the caller (to close their Spurs).
  ServerList TakeServers();

  size_t rowCount() const { return rows_.size(); }
  const DeviceData& row(size_t index) const { return *rows_.at(index); }
  std::optional<size_t> IndexOf(const DeviceData* data) const;
  // The positions of this server's rows, ascending.
  std::vector<size_t> RowsOf(const std::string& serverName, const std::string& serverIp) const;
  // The first row of this server with this device number.
  std::optional<size_t> FindRow(const std::string& serverName, const std::string& serverIp,
                                const std::string& deviceNumber) const;
  // The first row matching all three; none when any of them is empty.
  DeviceData* FindDeviceRow(const std::string& serverName, const std::string& serverIp,
                            const std::string& identityText) const;

  void AppendRow(std::unique_ptr<DeviceData> data);
  // Changes a row's DeviceData in place and tells the listeners.
  template <typename Edit>
  void EditRow(size_t index, Edit edit) {
    edit(*rows_.at(index));
    RowEdited(index);
  }
  // Deleting a row for any reason: an unnamed device gives its caption number back, the
  // listeners hear of it and the note panel shows when the list became empty.
  void RemoveRow(size_t index);
  // Rows in list order (RowLess); listeners hear of it only when the order changed.
  void SortRows();

  UnnamedSlots& unnamedSlots() { return slots_; }

 private:
  void RowEdited(size_t index);
  void MarkUnsorted(size_t index);
  bool InOrderWithNeighbours(size_t index) const;
  template <typename F>
  void Notify(F f) {
    // A copy, so a listener that removes itself does not disturb the loop.
    const auto listeners = listeners_;
    for (auto* l : listeners) f(*l);
  }

  MainWindowPort& window_;
  std::vector<DeviceListListener*> listeners_;
  ServerList servers_;
  std::vector<std::unique_ptr<DeviceData>> rows_;
  ServerRowIndex byServer_;
  // Rows appended or edited since the last sort, ascending: the only ones that can be out of
  // order, as the others were sorted and removals keep their order.
  std::vector<size_t> unsortedRows_;
  UnnamedSlots slots_;
};

}  // namespace tessaro
