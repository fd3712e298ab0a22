// SPDX-License-Identifier: GPL-2.0-or-later
#include "devices/DeviceOperations.h"

#include <algorithm>
#include <charconv>

#include "autoconnect/AutoConnectLists.h"
#include "autoconnect/AutoConnectStore.h"
#include "base/Ipv4Text.h"
#include "base/NumberText.h"
#include "base/Product.h"
#include "devices/Eject.h"
#include "devices/RefreshLock.h"
#include "protocol/TypeWords.h"
#include "records/DeviceTypes.h"

namespace tessaro {

namespace {

// The kind byte of a request to use sent from the device menu.
constexpr uint8_t kRequestToUseKind = 1;

// Sets OperationBusy for one scope and gives back the value it found, so a command run from
// another one's message box does not clear the outer command's flag.
class BusyScope {
 public:
  explicit BusyScope(bool& flag) : flag_(flag), was_(flag) { flag_ = true; }
  ~BusyScope() { flag_ = was_; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  bool& flag_;
  bool was_;
};

// The vendor or product ID text read as a hexadecimal number; 0 for a text that is none, which
// no device database key carries.
uint16_t HexId(const std::string& text) { return ParseNumber<uint16_t>(text, 16).value_or(0); }

bool OfServer(const DeviceData& d, const ServerData& server) {
  return d.serverName == server.name && d.serverIp == server.ip;
}

}  // namespace

uint32_t ConnectLockSeconds(const std::string& type) {
  return IsType(type, devtype::kMassStorage) ? kStorageLockSeconds : kManualLockSeconds;
}

std::optional<std::string> ServerConfigurationUrl(const std::string& ip) {
  if (!IsDottedIpv4(ip)) return std::nullopt;
  return "http://" + ip + "/";
}

DeviceOperations::DeviceOperations(const DeviceOperationServices& services, ClientState& state,
                                   DeviceListModel& model, RefreshCycle& refresh)
    : services_(services), state_(state), model_(model), refresh_(refresh) {}

std::optional<DeviceData> DeviceOperations::Snapshot(size_t row) const {
  if (row >= model_.rowCount()) return std::nullopt;
  return model_.row(row);
}

std::vector<DeviceData> DeviceOperations::OwnedRows(const ServerData* server) const {
  std::vector<DeviceData> owned;
  for (size_t i = 0; i < model_.rowCount(); ++i) {
    const DeviceData& d = model_.row(i);
    if (server != nullptr && !OfServer(d, *server)) continue;
    if (d.handle != kInvalidBusHandle && d.owner == state_.computerName) owned.push_back(d);
  }
  return owned;
}

void DeviceOperations::Show(const std::string& text) {
  MessageRequest message;
  message.caption = ProductName;
  message.text = text;
  message.flags = mb::kOk;
  services_.ui.ShowMessage(message);
}

void DeviceOperations::Connect(size_t row) {
  const auto d = Snapshot(row);
  if (!d || d->handle == kInvalidBusHandle) return;
  // A storage device carries its server's storage mode where others carry their printer entry.
  if (IsType(d->type, devtype::kMassStorage) && d->StorageMode() == 0) {
    Show(opmessage::kStorageInServerMode);
    return;
  }
  std::optional<std::string> failure;
  {
    BusyScope busy(state_.flags.OperationBusy);
    failure = LinkAndLock(*d);
    if (!failure) HoldAutoPrinterQueue(*d, QueueHold::Released);
  }
  // The box processes events: the flag is down by then, so the rows follow the new state.
  if (failure) Show(*failure);
}

std::optional<std::string> DeviceOperations::LinkAndLock(const DeviceData& d) {
  DriverClient& driver = refresh_.driver();
  if (!driver.LinkDevice(d.handle, d.deviceNumber)) return std::string(opmessage::kConnectFailed);
  // The device stays linked when the lock fails; the doubled "!" tells the two failures apart.
  if (!driver.LockDevice(d.handle, d.deviceNumber, LockKind::Manual, ConnectLockSeconds(d.type)))
    return std::string(opmessage::kConnectFailed) + "!";
  return std::nullopt;
}

void DeviceOperations::Disconnect(size_t row) {
  const auto d = Snapshot(row);
  if (!d || d->handle == kInvalidBusHandle) return;
  if (IsType(d->type, devtype::kMassStorage) && !MayRelease(*d)) return;
  bool unlinked = false;
  {
    BusyScope busy(state_.flags.OperationBusy);
    DriverClient& driver = refresh_.driver();
    // Its answer does not matter: the unlink ends any lock of the owner.
    driver.UnlockDevice(d->handle, d->deviceNumber, LockKind::Manual, 0);
    unlinked = driver.UnlinkDevice(d->handle, d->deviceNumber);
    if (unlinked) HoldAutoPrinterQueue(*d, QueueHold::Parked);
  }
  if (!unlinked) Show(opmessage::kDisconnectFailed);
}

void DeviceOperations::RequestToUse(size_t row) {
  const auto d = Snapshot(row);
  if (!d || d->handle == kInvalidBusHandle) return;
  refresh_.driver().RequestToUseDevice(d->handle, d->deviceNumber, kRequestToUseKind, "");
}

bool DeviceOperations::MayRelease(const DeviceData& d) {
  const int result = EjectStorage(services_.deviceDatabase, services_.plugAndPlay,
                                  HexId(d.vendorId), HexId(d.productId), d.serial);
  return MayReleaseStorage(result, services_.ui, d.displayName);
}

bool DeviceOperations::Release(const DeviceData& d) {
  if (IsType(d.type, devtype::kMassStorage) && !MayRelease(d)) return false;
  refresh_.driver().UnlinkDevice(d.handle, d.deviceNumber);
  return true;
}

void DeviceOperations::HoldAutoPrinterQueue(const DeviceData& d, QueueHold hold) {
  if (!wire::IsPrinterType(d.type) || state_.printers().empty()) return;
  std::string printerName;
  if (FindAutoLinkEntry(state_.printers(), d.serverMac, d.DeviceIdentityText, printerName) < 0)
    return;
  services_.spooler.SetQueueHold(printerName, hold);
}

bool DeviceOperations::DisconnectAllOwned() {
  BusyScope busy(state_.flags.OperationBusy);
  bool cancelled = false;
  // Copies: the eject dialog processes events, which may change the rows.
  for (const DeviceData& d : OwnedRows(nullptr)) {
    if (!Release(d)) cancelled = true;
  }
  return !cancelled;
}

void DeviceOperations::StoreEnable(const ServerData& server, bool enabled) {
  ServerInfoReg entry;
  entry.ServerName = server.name;
  entry.ServerIP = server.ip;
  entry.ServerMAC = server.mac;
  entry.ServerEnable = enabled ? 1 : 0;
  WriteServerEntry(services_.registry, state_.appKey, entry);
}

ServerData* DeviceOperations::Attach(const std::string& displayName, const std::string& ip) {
  SpurInterface spur = refresh_.OpenServerBus(ip);
  // The attach processed events: the record may have gone, or a refresh may have replaced it.
  ServerData* server = model_.FindServerByDisplayName(displayName);
  if (spur.handle == kInvalidBusHandle) {
    // Met again as a new server at the next server refresh.
    if (server != nullptr && server->handle == kInvalidBusHandle) model_.RemoveServer(server);
    return nullptr;
  }
  if (server == nullptr || server->handle != kInvalidBusHandle) {
    services_.bus.Close(spur.handle);
    return server;
  }
  server->handle = spur.handle;
  server->busPath = spur.path;
  return server;
}

void DeviceOperations::EnableServer(const std::string& displayName) {
  RefreshLockWait lock(services_.refreshLock, services_.pump, services_.clock, state_.flags);
  ServerData* server = model_.FindServerByDisplayName(displayName);
  if (server == nullptr) return;
  if (server->handle == kInvalidBusHandle) {
    server = Attach(displayName, server->ip);
    if (server == nullptr) return;
  }
  refresh_.RefreshDevices(server);
  // A device-found notice processes events too.
  server = model_.FindServerByDisplayName(displayName);
  if (server == nullptr) return;
  server->enabled = 1;
  StoreEnable(*server, true);
}

void DeviceOperations::RemoveRowsExcept(const ServerData& server,
                                        const std::vector<std::string>& keptNumbers) {
  for (size_t i = 0; i < model_.rowCount();) {
    const DeviceData& d = model_.row(i);
    const bool kept =
        std::find(keptNumbers.begin(), keptNumbers.end(), d.deviceNumber) != keptNumbers.end();
    if (OfServer(d, server) && !kept) {
      model_.RemoveRow(i);
    } else {
      ++i;
    }
  }
}

void DeviceOperations::DisableServer(const std::string& displayName) {
  RefreshLockWait lock(services_.refreshLock, services_.pump, services_.clock, state_.flags);
  const ServerData* found = model_.FindServerByDisplayName(displayName);
  if (found == nullptr) return;
  // A copy: the record may go while the user answers the eject dialog.
  const ServerData server = *found;
  std::vector<std::string> kept;
  {
    BusyScope busy(state_.flags.OperationBusy);
    for (const DeviceData& d : OwnedRows(&server)) {
      if (!Release(d)) kept.push_back(d.deviceNumber);
    }
    RemoveRowsExcept(server, kept);
  }
  if (!kept.empty()) {
    refresh_.RefreshDevices(model_.FindServer(server.name, server.ip));
    return;
  }
  if (ServerData* listed = model_.FindServer(server.name, server.ip)) listed->enabled = 0;
  // The user's choice is stored even when the server left the list meanwhile.
  StoreEnable(server, false);
}

void DeviceOperations::OpenServerConfiguration(const std::string& displayName) {
  std::string ip;
  {
    RefreshLockWait lock(services_.refreshLock, services_.pump, services_.clock, state_.flags);
    if (const ServerData* server = model_.FindServerByDisplayName(displayName)) ip = server->ip;
  }
  if (const auto url = ServerConfigurationUrl(ip)) services_.shell.OpenUrl(*url);
}

}  // namespace tessaro
