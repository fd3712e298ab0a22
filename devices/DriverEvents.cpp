// SPDX-License-Identifier: GPL-2.0-or-later
#include "devices/DriverEvents.h"

#include "base/Product.h"
#include "driver/EventRecord.h"

namespace tessaro {

std::string ReleaseRequestText(const std::string& displayName) {
  return "Please release the " + displayName + "\n(disconnect) resources for other user.";
}

DriverEventDispatcher::DriverEventDispatcher(RefreshCycle& refresh, DeviceListModel& model,
                                             ClientState& state, NamedMutex& refreshLock,
                                             MainWindowPort& window, UiPort& ui, Clock& clock,
                                             std::function<bool()> networkReady)
    : refresh_(refresh), model_(model), state_(state), refreshLock_(refreshLock), window_(window),
      ui_(ui), clock_(clock), networkReady_(std::move(networkReady)) {}

void DriverEventDispatcher::Dispatch(std::span<const uint8_t> record, int64_t byteCount) {
  if (state_.flags.Closing) return;
  // An empty read, a record too short for its kind and an unknown kind all end here.
  const auto event = ParseEventRecord(record, byteCount);
  if (!event || !event->knownKind()) return;
  switch (event->kind) {
    case kEventUpdateDeviceList: DeviceListChanged(event->serverIp); break;
    case kEventUpdateBusList:
      refresh_.NoteBusListEvent();
      refresh_.RefreshServers();
      break;
    case kEventUpdateIp:
      window_.NetworkChecked(networkReady_ ? networkReady_() : false);
      refresh_.RefreshServers();
      break;
    case kEventRequestToUse:
      RequestToUse(event->serverIp, event->deviceNumber, event->subCode);
      break;
    default: break;
  }
}

void DriverEventDispatcher::DeviceListChanged(const std::string& serverIp) {
  if (state_.flags.OperationBusy) return;
  // Never waits: a refresh that holds the lock (here or in another process) covers the change.
  if (!refreshLock_.TryLock()) return;
  NamedMutexHold hold(refreshLock_);
  refresh_.RefreshDevices(model_.FindEnabledServerByIp(serverIp));
}

void DriverEventDispatcher::RequestToUse(const std::string& serverIp, int deviceNumber,
                                         int subCode) {
  if (subCode != 1) return;
  const std::string number = std::to_string(deviceNumber);
  for (size_t i = 0; i < model_.rowCount(); ++i) {
    const DeviceData& row = model_.row(i);
    if (row.serverIp != serverIp || row.deviceNumber != number || row.owner != state_.computerName)
      continue;
    request_.text = ReleaseRequestText(row.displayName);
    request_.armed = true;
    request_.firesAt = clock_.Now() + kReleaseRequestDelay;
    window_.StartReleaseRequestTimer(kReleaseRequestDelay);
    return;
  }
}

void DriverEventDispatcher::OnReleaseRequestTimer() {
  if (state_.flags.Closing || !request_.armed) return;
  request_.armed = false;
  MessageRequest message;
  message.caption = ProductName;
  message.text = request_.text;
  message.flags = mb::kTopMost | mb::kIconWarning;
  message.ownedByMainWindow = false;
  ui_.ShowMessage(message);
}

}  // namespace tessaro
