// SPDX-License-Identifier: GPL-2.0-or-later
// list: one refresh as the tray client makes it, printed as servers, then rows in list order.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include <vector>
#include "autoconnect/AutoConnectLists.h"
#include "base/Result.h"

#include "devices/DeviceListModel.h"
#include "devices/MainWindowPort.h"
#include "devices/RefreshCycle.h"
#include "driver/DriverClient.h"
#include "platform/TrunkProblem.h"
#include "platform/NamedMutex.h"
#include "platform/Registry.h"
#include "platform/Spooler.h"
#include "records/Records.h"

namespace tessaro::cli {

// What `list` needs beyond the bus; main() fills it from the environment, tests with their own.
struct ClientEnvironment {
  Registry* registry = nullptr;       // the user's hive (TESSARO_USER_HIVE)
  NamedMutex* refreshLock = nullptr;  // "RefreshServerList_QXV", shared with the client
  std::string computerName;
  uint32_t windowsVersionFlags = 0;
  // The first gateway of each qualifying adapter, for the first-run rule.
  std::function<std::vector<std::string>()> defaultGateways;
  Spooler* spooler = nullptr;  // the printers auto-print binds devices to
  // Why no Trunk opened (busd not running, the user not in its group); unset: not told.
  std::function<TrunkProblem()> diagnoseTrunk;
  std::string userName;
};

// The client's state as a program without a window starts with it: the user's hive's
// auto-connect lists and scanner identities, this PC, and no device-found notices. `env` must
// hold the hive.
void LoadClientState(const ClientEnvironment& env, BusHandle trunk, ClientState& state);

// One refresh as the tray client makes it (RefreshServers, then RefreshDevices for every
// enabled server), with the user's hive; the servers it attached close with it.
class ClientRefresh {
 public:
  // `env` must hold the hive and the refresh lock.
  ClientRefresh(const ClientEnvironment& env, BusTransport& bus, Clock& clock, BusHandle trunk);
  ~ClientRefresh();
  ClientRefresh(const ClientRefresh&) = delete;
  ClientRefresh& operator=(const ClientRefresh&) = delete;
  Result<> Run();
  const DeviceListModel& model() const { return model_; }

 private:
  ClientState state_;
  NoWindow window_;
  DeviceListModel model_{window_};
  RefreshCycle cycle_;
};

std::string FormatListServer(const ServerData& server, bool json);
std::string FormatListRow(const DeviceData& row, bool json);

// Runs the refresh over `trunk` and prints the result; returns the exit status.
int RunList(const ClientEnvironment& env, BusTransport& bus, Clock& clock, BusHandle trunk,
            bool json, std::ostream& out, std::ostream& err);

}  // namespace tessaro::cli
