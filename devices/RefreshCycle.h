// SPDX-License-Identifier: GPL-2.0-or-later
// The refresh cycle: keeps ServerList and the device rows in step with what the bus reports.
// Everything runs on the main thread. The waits (RefreshLock, the Spur appearing) process
// pending events, so driver events and timers may run a nested refresh meanwhile; no operation
// keeps a reference to a listed record across such a wait.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "devices/DeviceListModel.h"
#include "devices/MainWindowPort.h"
#include "driver/DriverClient.h"
#include "platform/Clock.h"
#include "platform/EventPump.h"
#include "platform/NamedMutex.h"
#include "platform/Registry.h"
#include "records/ClientState.h"

namespace tessaro {

// The outside services the cycle uses; they must outlive it.
struct RefreshServices {
  BusTransport& bus;
  Clock& clock;
  EventPump& pump;
  NamedMutex& refreshLock;  // "RefreshServerList_QXV"
  Registry& registry;       // the user's hive: stored server entries
  MainWindowPort& window;
};

enum class DeviceRefresh {
  Skipped,  // no server, or its Spur is not open
  Merged,   // the rows match the device list (a failed request reads as no devices)
  TooLong,  // the reply was longer than its buffer: nothing changed
};

class RefreshCycle {
 public:
  RefreshCycle(const RefreshServices& services, ClientState& state, DeviceListModel& model);

  // Merges the bus's server list into ServerList: servers not answering (state 0) or speaking
  // another protocol (2) are left out, vanished ones go with their rows, new ones are enabled
  // from their stored entry (or the first-run gateway rule), attached and listed with their
  // devices. False when there is no Trunk or the server list could not be read; nothing
  // changed then.
  bool RefreshServers();

  // Attaches the server at `ip` and opens its Spur: AttachServer, half a second, then up to ten
  // listings of the Spurs about a second apart (fewer once closing begins). Returns the Spur
  // whose address is `ip`, or one with an invalid handle. Every other Spur opened is closed.
  SpurInterface OpenServerBus(const std::string& ip);

  // Merges `server`'s device list into its rows. The record is read at the start only.
  DeviceRefresh RefreshDevices(const ServerData* server);

  // The merge step of RefreshDevices on a device list already fetched, with RefreshLock held
  // by the caller: rows updated, deleted and added, new unnamed devices numbered, the notices
  // and the note panel, then the rows sorted.
  void MergeDevices(ServerData server, const std::vector<DeviceEntry>& entries);

  // A server-list event arrived (driver event kind 2): the timer waits for quiet after it.
  void NoteBusListEvent();

  // One tick of the 500 ms trunk-update timer, which the window starts each time it is shown.
  // Until three whole seconds have passed since the last server-list event it does nothing and
  // returns false. Then it refreshes the servers, shows or hides the note panel and returns
  // true: the caller stops the timer and starts the missing print monitors. Ticks that come
  // while that refresh waits (it processes events) do nothing.
  bool TrunkUpdateTick();

  // The bus has gone away and every server with it: each goes with its rows, as a refresh that
  // finds no server takes them, and the note panel follows.
  void BusGone();

  // The close sequence's step: every server's Spur closed and ServerList emptied.
  void CloseServers();

  DriverClient& driver() { return driver_; }

 private:
  void ClearServersAndRows();
  void RemoveVanishedServers(const std::vector<ServerEntry>& reported);
  void MergeServer(const ServerEntry& entry);
  void RemoveRowsOf(const std::string& name, const std::string& ip);
  // The server's rows take the fields of the fresh device with their number, or go.
  void UpdateRowsOf(const ServerData& server, const std::vector<DeviceData>& fresh);
  void AddRow(const DeviceData& fresh);
  void CloseSpur(BusHandle& handle);

  RefreshServices services_;
  ClientState& state_;
  DeviceListModel& model_;
  DriverClient driver_;
  std::chrono::system_clock::time_point lastBusListEvent_{};
  bool trunkUpdateRunning_ = false;
};

}  // namespace tessaro
