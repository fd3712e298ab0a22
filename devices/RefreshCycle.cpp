// SPDX-License-Identifier: GPL-2.0-or-later
#include "devices/RefreshCycle.h"

#include <algorithm>

#include "autoconnect/AutoConnectStore.h"
#include "devices/BusRecords.h"
#include "devices/RefreshLock.h"

namespace tessaro {

namespace {

constexpr auto kAttachSettle = std::chrono::milliseconds(500);
constexpr int kSpurListings = 10;
constexpr int kPausesBetweenListings = 10;
constexpr auto kListingPause = std::chrono::milliseconds(100);
constexpr std::chrono::seconds kQuietAfterBusEvent{3};

bool Listed(const ServerEntry& e) { return e.state != "0" && e.state != "2"; }

// What a refresh changes in an existing row: everything but its server, number and caption.
void TakeRefreshedFields(DeviceData& row, const DeviceData& fresh, BusHandle handle) {
  row.handle = handle;
  row.stateText = fresh.stateText;
  row.DeviceIdentityText = fresh.DeviceIdentityText;
  row.type = fresh.type;
  row.manufacturer = fresh.manufacturer;
  row.product = fresh.product;
  row.owner = fresh.owner;
  row.vendorId = fresh.vendorId;
  row.productId = fresh.productId;
  row.serial = fresh.serial;
  row.autoPrinterName = fresh.autoPrinterName;
  row.autoPrinterIndex = fresh.autoPrinterIndex;
  row.autoFaxName = fresh.autoFaxName;
  row.autoFaxIndex = fresh.autoFaxIndex;
  row.lockKind = fresh.lockKind;
  row.lockCount = fresh.lockCount;
}

}  // namespace

RefreshCycle::RefreshCycle(const RefreshServices& services, ClientState& state,
                           DeviceListModel& model)
    : services_(services), state_(state), model_(model), driver_(services.bus, services.clock) {}

void RefreshCycle::CloseSpur(BusHandle& handle) {
  if (handle == kInvalidBusHandle) return;
  services_.bus.Close(handle);
  handle = kInvalidBusHandle;
}

bool RefreshCycle::RefreshServers() {
  if (state_.trunk == kInvalidBusHandle) return false;
  RefreshLockWait lock(services_.refreshLock, services_.pump, services_.clock, state_.flags);
  std::vector<ServerEntry> reported;
  const int count = driver_.GetServerList(state_.trunk, reported);
  if (count < 0) return false;
  if (count == 0) {
    ClearServersAndRows();
    return true;
  }
  // A dropped entry takes the last one's place, which is examined in turn.
  for (size_t i = 0; i < reported.size();) {
    if (Listed(reported[i])) {
      ++i;
      continue;
    }
    reported[i] = std::move(reported.back());
    reported.pop_back();
  }
  RemoveVanishedServers(reported);
  for (const auto& entry : reported) MergeServer(entry);
  return true;
}

void RefreshCycle::ClearServersAndRows() {
  for (auto& server : model_.TakeServers()) CloseSpur(server->handle);
  while (model_.rowCount() > 0) model_.RemoveRow(model_.rowCount() - 1);
}

void RefreshCycle::RemoveRowsOf(const std::string& name, const std::string& ip) {
  // Removing a row processes no events: only the removals before it move a row up.
  size_t removed = 0;
  for (const size_t listed : model_.RowsOf(name, ip)) model_.RemoveRow(listed - removed++);
}

void RefreshCycle::RemoveVanishedServers(const std::vector<ServerEntry>& reported) {
  for (size_t i = 0; i < model_.servers().size();) {
    ServerData& server = *model_.servers()[i];
    const bool stillThere = std::any_of(reported.begin(), reported.end(), [&](const auto& e) {
      return e.name == server.name && e.ip == server.ip;
    });
    if (stillThere) {
      ++i;
      continue;
    }
    CloseSpur(server.handle);
    RemoveRowsOf(server.name, server.ip);
    services_.window.RepaintList();
    model_.RemoveServer(&server);
  }
}

void RefreshCycle::MergeServer(const ServerEntry& entry) {
  if (ServerData* known = model_.FindServer(entry.name, entry.ip)) {
    TakeServerFields(*known, entry);  // its enable flag and Spur stay
    return;
  }
  auto record = std::make_unique<ServerData>();
  TakeServerFields(*record, entry);
  ServerInfoReg stored;
  stored.ServerName = entry.name;
  stored.ServerIP = entry.ip;
  stored.ServerMAC = entry.mac;
  if (ReadServerEntry(services_.registry, state_.appKey, stored))
    record->enabled = stored.ServerEnable;
  if (!state_.firstRunGateway.empty() && state_.firstRunGateway == entry.ip) {
    record->enabled = 1;
    stored.ServerEnable = 1;
    WriteServerEntry(services_.registry, state_.appKey, stored);
  }
  if (!record->enabled) {
    model_.AddServer(std::move(record));
    return;
  }
  // An enabled server is listed only with its Spur open; otherwise it is met again as new.
  SpurInterface spur = OpenServerBus(entry.ip);
  if (spur.handle == kInvalidBusHandle) return;
  // Events handled while the Spur was awaited may have run a refresh that listed it already.
  if (ServerData* listed = model_.FindServer(entry.name, entry.ip)) {
    if (listed->handle != spur.handle) CloseSpur(spur.handle);
    return;
  }
  record->handle = spur.handle;
  record->busPath = spur.path;
  const ServerData& added = model_.AddServer(std::move(record));
  // The device-list event that the attach caused may have come while the server was not yet
  // listed, and was then dropped: list its devices now, so its rows do not wait for the next
  // change on the server.
  RefreshDevices(&added);
}

SpurInterface RefreshCycle::OpenServerBus(const std::string& ip) {
  RefreshLockWait lock(services_.refreshLock, services_.pump, services_.clock, state_.flags);
  driver_.AttachServer(state_.trunk, ip);
  services_.clock.Sleep(kAttachSettle);
  for (int listing = 1; listing <= kSpurListings && !state_.flags.Closing; ++listing) {
    SpurInterface match;
    for (auto& spur : driver_.OpenSpurs().value_or(std::vector<SpurInterface>{})) {
      // The first Spur with the address is kept; a second one would only leak.
      if (match.handle == kInvalidBusHandle && spur.address == ip) {
        match = spur;
      } else {
        services_.bus.Close(spur.handle);
      }
    }
    if (match.handle != kInvalidBusHandle || listing == kSpurListings) return match;
    for (int pause = 0; pause < kPausesBetweenListings && !state_.flags.Closing; ++pause) {
      services_.pump.ProcessPendingEvents();
      services_.clock.Sleep(kListingPause);
    }
  }
  return {};
}

DeviceRefresh RefreshCycle::RefreshDevices(const ServerData* server) {
  if (server == nullptr || server->handle == kInvalidBusHandle) return DeviceRefresh::Skipped;
  // A copy: the record may go while the lock is awaited.
  const ServerData snapshot = *server;
  const auto entries = driver_.GetDeviceList(snapshot.handle);
  if (!entries) return DeviceRefresh::TooLong;
  RefreshLockWait lock(services_.refreshLock, services_.pump, services_.clock, state_.flags);
  MergeDevices(snapshot, *entries);
  return DeviceRefresh::Merged;
}

void RefreshCycle::MergeDevices(ServerData server, const std::vector<DeviceEntry>& entries) {
  std::vector<DeviceData> fresh;
  fresh.reserve(entries.size());
  for (const auto& e : entries) fresh.push_back(DeviceFromEntry(e, server, state_));

  UpdateRowsOf(server, fresh);
  for (const DeviceData& f : fresh) {
    if (!model_.FindRow(server.name, server.ip, f.deviceNumber)) AddRow(f);
  }
  model_.SortRows();
  services_.window.RepaintList();
}

void RefreshCycle::UpdateRowsOf(const ServerData& server, const std::vector<DeviceData>& fresh) {
  // Editing and removing rows process no events: only the removals before it move a row up.
  size_t removed = 0;
  for (const size_t listed : model_.RowsOf(server.name, server.ip)) {
    const size_t i = listed - removed;
    const std::string& number = model_.row(i).deviceNumber;
    const auto match = std::find_if(fresh.begin(), fresh.end(),
                                    [&](const DeviceData& f) { return f.deviceNumber == number; });
    if (match == fresh.end()) {
      model_.RemoveRow(i);
      ++removed;
      continue;
    }
    model_.EditRow(i, [&](DeviceData& r) { TakeRefreshedFields(r, *match, server.handle); });
  }
}

void RefreshCycle::AddRow(const DeviceData& fresh) {
  auto row = std::make_unique<DeviceData>(fresh);
  if (IsUnnamedDevice(row->manufacturer, row->product))
    row->displayName = model_.unnamedSlots().Take();
  const std::string caption = row->displayName;
  model_.AppendRow(std::move(row));
  if (state_.notifyDeviceDetect) {
    services_.window.RepaintList();
    // The notice slides in with its own event processing, which may run a nested refresh and
    // its notices; only the outermost clears the flag.
    const bool wasBusy = state_.flags.NoticeBusy;
    state_.flags.NoticeBusy = true;
    services_.window.ShowDeviceFoundNotice(caption);
    state_.flags.NoticeBusy = wasBusy;
  }
  services_.window.ShowNotePanel(model_.rowCount() == 0);
}

void RefreshCycle::NoteBusListEvent() { lastBusListEvent_ = services_.clock.WallNow(); }

bool RefreshCycle::TrunkUpdateTick() {
  if (trunkUpdateRunning_) return false;
  const auto quiet = std::chrono::duration_cast<std::chrono::seconds>(services_.clock.WallNow() -
                                                                      lastBusListEvent_);
  if (quiet >= std::chrono::seconds(0) && quiet < kQuietAfterBusEvent) return false;
  trunkUpdateRunning_ = true;
  RefreshServers();
  services_.window.ShowNotePanel(model_.rowCount() == 0);
  trunkUpdateRunning_ = false;
  return true;
}

void RefreshCycle::BusGone() {
  {
    RefreshLockWait lock(services_.refreshLock, services_.pump, services_.clock, state_.flags);
    ClearServersAndRows();
  }
  services_.window.ShowNotePanel(model_.rowCount() == 0);
}

void RefreshCycle::CloseServers() {
  for (auto& server : model_.TakeServers()) CloseSpur(server->handle);
}

}  // namespace tessaro
