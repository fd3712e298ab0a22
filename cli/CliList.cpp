// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/CliList.h"

#include "autoconnect/AutoConnectLists.h"
#include "autoconnect/AutoConnectStore.h"
#include "cli/CliRunner.h"
#include "cli/JsonLine.h"
#include "devices/RefreshCycle.h"
#include "host/WindowsVersion.h"
#include "records/DeviceTypes.h"

namespace tessaro::cli {

namespace {}  // namespace

std::string FormatListServer(const ServerData& s, bool json) {
  if (json) {
    return JsonLine()
        .Bool("server", true)
        .Text("displayName", s.displayName)
        .Text("name", s.name)
        .Text("ip", s.ip)
        .Text("mac", s.mac)
        .Text("state", s.state)
        .Number("storageMode", s.storageMode)
        .Bool("enabled", s.enabled != 0)
        .str();
  }
  return "server " + s.displayName + "  mac " + s.mac + "  state " + s.state + "  storage mode " +
         std::to_string(s.storageMode) + (s.enabled ? "  enabled" : "  disabled");
}

std::string FormatListRow(const DeviceData& d, bool json) {
  if (json) {
    return JsonLine()
        .Text("displayName", d.displayName)
        .Text("stateText", d.stateText)
        .Text("type", d.type)
        .Text("serverName", d.serverName)
        .Text("serverIp", d.serverIp)
        .Text("serverMac", d.serverMac)
        .Text("deviceNumber", d.deviceNumber)
        .Text("owner", d.owner)
        .Number("lockKind", d.lockKind)
        .Number("lockCount", d.lockCount)
        .Text("vendorId", d.vendorId)
        .Text("productId", d.productId)
        .Text("serial", d.serial)
        .Text("manufacturer", d.manufacturer)
        .Text("product", d.product)
        .Text("DeviceIdentityText", d.DeviceIdentityText)
        .Text("autoPrinterName", d.autoPrinterName)
        .Number("autoPrinterIndex", d.autoPrinterIndex)
        .Text("autoFaxName", d.autoFaxName)
        .Number("autoFaxIndex", d.autoFaxIndex)
        .Number("imageIndex", ImageIndexOf(d.type))
        .str();
  }
  return "  " + d.displayName + d.stateText + "  [" + d.type + "]  #" + d.deviceNumber + " on " +
         d.serverName + " (" + d.serverIp + ")";
}

void LoadClientState(const ClientEnvironment& env, BusHandle trunk, ClientState& state) {
  Registry& registry = *env.registry;
  LoadAutoConnectLists(registry, AppRegistryKey, state.autoPrinters, state.autoFaxes);
  LoadScannerIdList(registry, AppRegistryKey, state.scannerIds);
  state.trunk = trunk;
  state.computerName = env.computerName;
  state.windowsVersionFlags = env.windowsVersionFlags;
  state.notifyDeviceDetect = false;
  state.firstRunGateway =
      FirstRunGateway(registry, AppRegistryKey, env.windowsVersionFlags,
                      env.defaultGateways ? env.defaultGateways() : std::vector<std::string>{});
}

ClientRefresh::ClientRefresh(const ClientEnvironment& env, BusTransport& bus, Clock& clock,
                             BusHandle trunk)
    : cycle_({bus, clock, window_, *env.refreshLock, *env.registry, window_}, state_, model_) {
  LoadClientState(env, trunk, state_);
}

ClientRefresh::~ClientRefresh() { cycle_.CloseServers(); }

Result<> ClientRefresh::Run() {
  if (!cycle_.RefreshServers()) return Failure("server list failed");
  bool tooLong = false;
  for (const auto& server : model_.servers()) {
    if (server->enabled && cycle_.RefreshDevices(server.get()) == DeviceRefresh::TooLong)
      tooLong = true;
  }
  if (tooLong) return Failure("device list longer than its buffer");
  return {};
}

int RunList(const ClientEnvironment& env, BusTransport& bus, Clock& clock, BusHandle trunk,
            bool json, std::ostream& out, std::ostream& err) {
  if (env.registry == nullptr || env.refreshLock == nullptr) {
    err << "tessaro-cli: list needs the user's hive and the refresh lock (is TESSARO_LOCK_DIR, "
           "or else $XDG_RUNTIME_DIR/tessaro, a folder of this user that only it may write?)\n";
    return exitcode::kFailed;
  }
  ClientRefresh refresh(env, bus, clock, trunk);
  if (const auto refreshed = refresh.Run(); !refreshed) {
    err << "tessaro-cli: " << refreshed.error() << '\n';
    return exitcode::kFailed;
  }
  const DeviceListModel& model = refresh.model();
  for (const auto& server : model.servers()) out << FormatListServer(*server, json) << '\n';
  for (size_t i = 0; i < model.rowCount(); ++i) out << FormatListRow(model.row(i), json) << '\n';
  out << std::flush;
  return exitcode::kOk;
}

}  // namespace tessaro::cli
