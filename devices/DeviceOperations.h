// SPDX-License-Identifier: GPL-2.0-or-later
// The user's commands on one device (Connect, Disconnect, Request To Use from the device menu),
// the release of every device this PC holds when the program closes, and the per-server commands
// of the tray menu (Enable, Disable, Configuration...).
//
// Everything runs on the main thread. Message boxes, the eject dialog, the RefreshLock wait and
// the attach of a server process pending events, so driver events, timers and even another
// command may run meanwhile and change the rows and ServerList: every command works on a copy
// of the row or server record it started with, and looks a record up again after each such wait.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "devices/DeviceListModel.h"
#include "devices/RefreshCycle.h"
#include "driver/PlugAndPlay.h"
#include "platform/BusTransport.h"
#include "platform/Clock.h"
#include "platform/EventPump.h"
#include "platform/NamedMutex.h"
#include "platform/Registry.h"
#include "platform/Shell.h"
#include "platform/Spooler.h"
#include "platform/UiPort.h"
#include "records/ClientState.h"

namespace tessaro {

// The messages of the device commands, shown in the application's message box: caption
// ProductName, an OK button, no icon.
namespace opmessage {
inline constexpr const char* kStorageInServerMode =
    "Can not connect because the storage access mode is currently in Server mode, not Remotix "
    "mode.";
inline constexpr const char* kConnectFailed = "Connect device failed !";
inline constexpr const char* kDisconnectFailed = "Disconnect device failed !";
}  // namespace opmessage

// How long a manual Connect locks a device: a storage device 72 hours, anything else an hour.
inline constexpr uint32_t kStorageLockSeconds = 259200;
inline constexpr uint32_t kManualLockSeconds = 3600;
uint32_t ConnectLockSeconds(const std::string& type);

// The server's web page, "http://" + ip + "/"; none unless `ip` is a dotted IPv4 address, so
// nothing else ever reaches the browser.
std::optional<std::string> ServerConfigurationUrl(const std::string& ip);

// The outside services the commands use; they must outlive the commands.
struct DeviceOperationServices {
  BusTransport& bus;  // to close a Spur that an attach opened twice
  Clock& clock;
  EventPump& pump;
  NamedMutex& refreshLock;   // "RefreshServerList_QXV"
  Registry& registry;        // the user's hive: stored server entries
  Registry& deviceDatabase;  // read under LocalMachine by the storage eject (may be `registry`)
  PlugAndPlay& plugAndPlay;
  UiPort& ui;
  Spooler& spooler;  // queues bound to auto-connect printers
  Shell& shell;      // the server's web page
};

class DeviceOperations {
 public:
  DeviceOperations(const DeviceOperationServices& services, ClientState& state,
                   DeviceListModel& model, RefreshCycle& refresh);

  // Device menu commands on the selected row; an index past the last row does nothing, and so
  // does a row without a Spur.
  //
  // Links the device and locks it for this PC (lock kind 2, ConnectLockSeconds). A storage
  // device of a server in network storage mode is refused with a message, without a request.
  // Afterwards a printer or MFP with an auto-connect printer has that queue released.
  void Connect(size_t row);
  // Unlocks and unlinks the device. A storage device is first prepared for removal; when that
  // is refused the eject dialog asks, and "Cancel" keeps it. Afterwards a printer or MFP with an
  // auto-connect printer has that queue parked.
  void Disconnect(size_t row);
  // Asks the PC that holds the device to release it; nothing is shown either way.
  void RequestToUse(size_t row);

  // The close sequence's release of every device this PC holds (storage devices through the
  // eject and its dialog, then unlinked without an unlock). False when the user kept one.
  bool DisconnectAllOwned();

  // Tray menu commands, for the server whose display name ("name - ip") is the caption of the
  // submenu they were chosen from. An unknown name does nothing.
  //
  // Attaches the server when it has no Spur (a server that cannot be attached leaves ServerList
  // until the next server refresh), lists its devices, enables it and stores the enable.
  void EnableServer(const std::string& displayName);
  // Releases this PC's devices on the server, removes its rows, disables it and stores that;
  // its Spur stays open. A storage device the user keeps in the eject dialog keeps the server
  // enabled with its rows listed again.
  void DisableServer(const std::string& displayName);
  // Opens the server's web page in the browser when its address is a dotted IPv4 address.
  void OpenServerConfiguration(const std::string& displayName);

 private:
  std::optional<DeviceData> Snapshot(size_t row) const;
  // Copies of the rows this PC holds, optionally only those of one server.
  std::vector<DeviceData> OwnedRows(const ServerData* server) const;
  // Links and locks; the failure message, or none.
  std::optional<std::string> LinkAndLock(const DeviceData& d);
  // The storage eject and, when it is refused, the user's choice: true to go on releasing.
  bool MayRelease(const DeviceData& d);
  // One device of the release-all or a server disable: false when the user kept it.
  bool Release(const DeviceData& d);
  void HoldAutoPrinterQueue(const DeviceData& d, QueueHold hold);
  void RemoveRowsExcept(const ServerData& server, const std::vector<std::string>& keptNumbers);
  // Attaches the server at `ip`; its record with the Spur open afterwards, or null.
  ServerData* Attach(const std::string& displayName, const std::string& ip);
  void StoreEnable(const ServerData& server, bool enabled);
  void Show(const std::string& text);

  DeviceOperationServices services_;
  ClientState& state_;
  DeviceListModel& model_;
  RefreshCycle& refresh_;
};

}  // namespace tessaro
